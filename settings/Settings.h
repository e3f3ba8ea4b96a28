#pragma once
// The octave kept between runs: a one-line text file "Harmolune.ini" holding
// the octave as a decimal integer followed by CR LF. Standard library only,
// so that it can be tested and fuzzed without a window.

#include <string>
#include <string_view>

namespace harmolune {

inline constexpr std::string_view kSettingsFileName = "Harmolune.ini";
inline constexpr int kDefaultOctave = 3;
// Only this much of the first line is looked at, whatever the file's size.
inline constexpr std::size_t kMaxSettingsLine = 4096;

// Where the file lives: beside the executable (in exeDir), unless that folder
// cannot be written and holds no readable file, or is where installed programs
// live (under /usr, /opt, /bin or /sbin); then in xdgConfigHome/harmolune/, or
// home/.config/harmolune/ when xdgConfigHome is empty or not absolute. An
// empty home leaves the folder of the executable.
std::string SettingsPath(const std::string& exeDir, std::string_view xdgConfigHome,
                         std::string_view home);

// The octave a first line gives: its leading number, rounded to the nearest
// integer (a half to the even one) and clamped into -1 to 8. Only the text
// before the first carriage return counts; line feeds inside it are skipped
// like blanks.
int OctaveFromFirstLine(std::string_view text);

struct LoadedOctave {
    int octave = kDefaultOctave;
    // Why the default was used or the file could not be created; empty when
    // all went well, a first start without the file included. Meant for stderr, not for a box:
    // nothing is wrong for the user.
    std::string note;
};

// Reads the octave from path. A missing or unreadable file gives the default
// octave and is created with it (if possible); an empty file gives the
// default too.
LoadedOctave LoadOctave(const std::string& path);

// Writes octave as the file's only line, through a temporary file renamed
// over the old one, so that a crash leaves either the old file or the new.
// Where the folder cannot be written but the file can, the file is rewritten
// in place instead. A link is written through to the file it names. Creates
// the folder when missing. On failure returns false and puts in error a
// French sentence for the user, then, on a second line, the system's reason.
bool SaveOctave(const std::string& path, int octave, std::string& error);

}  // namespace harmolune
