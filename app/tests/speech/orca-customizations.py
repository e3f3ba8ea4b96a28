# Loaded by Orca at start from its preferences folder ($XDG_DATA_HOME/orca).
# Orca logs every utterance it hands to the speech server on its logger
# "speech" ("SPEECH OUTPUT: '...'"), the hook of its own regression tests;
# this writes them to $ORCA_SPOKEN_LOG, one line each, behind the time in
# seconds since the epoch, flushed as they happen.
import logging
import os

_handler = logging.FileHandler(os.environ["ORCA_SPOKEN_LOG"], encoding="utf-8")
_handler.setFormatter(logging.Formatter("%(created).3f %(message)s"))
logging.getLogger("speech").addHandler(_handler)
