#include "platform/data_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sys/stat.h>

namespace vokar::platform {
namespace {

namespace fs = std::filesystem;

class DataDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::path(::testing::TempDir()) / ("vokar_data_" + std::to_string(::getpid()));
        fs::remove_all(root_);
        saved_home_ = std::getenv("HOME") ? std::getenv("HOME") : "";
        ::unsetenv("VOKAR_HOME");
        ::unsetenv("XDG_DATA_HOME");
    }
    void TearDown() override
    {
        ::unsetenv("VOKAR_HOME");
        ::unsetenv("XDG_DATA_HOME");
        ::setenv("HOME", saved_home_.c_str(), 1);
        fs::remove_all(root_);
    }
    fs::path root_;
    std::string saved_home_;
};

TEST_F(DataDirectoryTest, ChoosesVokarHomeThenXdgThenHome)
{
    ::setenv("HOME", (root_ / "home").c_str(), 1);
    EXPECT_EQ(data_directory(), (root_ / "home/.local/share/vokar/").string());

    ::setenv("XDG_DATA_HOME", (root_ / "xdg").c_str(), 1);
    EXPECT_EQ(data_directory(), (root_ / "xdg/vokar/").string());

    ::setenv("VOKAR_HOME", (root_ / "alice/").c_str(), 1);
    const std::string dir = data_directory();
    EXPECT_EQ(dir, (root_ / "alice/").string());
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(DataDirectoryTest, ReportsADirectoryThatCannotBeMade)
{
    fs::create_directories(root_);
    const fs::path file = root_ / "plain-file";
    std::fclose(std::fopen(file.c_str(), "w"));
    ::setenv("VOKAR_HOME", (file / "sub").c_str(), 1);
    std::string error;
    EXPECT_EQ(data_directory(&error), "");
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

TEST_F(DataDirectoryTest, OneInstancePerDataDirectory)
{
    fs::create_directories(root_ / "a");
    fs::create_directories(root_ / "b");
    auto first = std::make_unique<InstanceLock>();
    InstanceLock second, other;
    ASSERT_TRUE(first->acquire((root_ / "a").string()));
    std::string error;
    EXPECT_FALSE(second.acquire((root_ / "a").string(), &error));
    EXPECT_NE(error.find("already running"), std::string::npos);
    EXPECT_TRUE(other.acquire((root_ / "b").string()));
    first.reset();
    EXPECT_TRUE(second.acquire((root_ / "a").string()));
}

} // namespace
} // namespace vokar::platform
