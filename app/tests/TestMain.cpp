// The window tests' main: a QApplication, offscreen unless told otherwise
// (test discovery runs the program without the tests' environment), and a
// data folder of its own for each test, so that the piano's record a window
// keeps there is never the user's and never another test's.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QApplication>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

class FreshDataHome : public ::testing::EmptyTestEventListener {
  public:
    FreshDataHome() { Make(); }
    ~FreshDataHome() override { Remove(); }

  private:
    void OnTestStart(const ::testing::TestInfo&) override {
        Remove();
        Make();
    }
    void Make() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "harmolune-data-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
            // Readable by the user some tests open files as (nobody), as a
            // data folder is.
            chmod(path_.c_str(), 0755);
            setenv("XDG_DATA_HOME", path_.c_str(), 1);
        }
    }
    void Remove() {
        if (!path_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(path_, ec);
            path_.clear();
        }
    }

    std::string path_;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshDataHome);
    return RUN_ALL_TESTS();
}
