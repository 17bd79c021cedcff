// The platform layer's file services, with the names a Turkish installation gives its folders.
#include <gtest/gtest.h>

#include <string>

#include "platform/Error.h"
#include "platform/Paths.h"
#include "tests/TestSupport.h"

namespace velmora::platform {
namespace {

TEST(Paths, FoldersAndFilesWithTurkishNamesAreWrittenReadAndRemoved) {
    test::TempDir dir;
    const std::string folder = dir.File("Şube Ayarları") + PathSeparator() + "İğdır";
    ForceDirectories(folder);
    const std::string file = folder + PathSeparator() + "günlük.log";
    WriteFileReplacing(file, "bir\r\niki");
    EXPECT_TRUE(FileExists(file));
    EXPECT_EQ(ReadWholeFile(file), "bir\r\niki");
    WriteFileReplacing(file, "üç");
    EXPECT_EQ(ReadWholeFile(file), "üç") << "a second write replaces the file";
    EXPECT_TRUE(DeleteFileIfExists(file));
    EXPECT_FALSE(FileExists(file));
    EXPECT_FALSE(DeleteFileIfExists(file));
    EXPECT_THROW(ReadWholeFile(file), EFileError);
}

TEST(Paths, TemporaryFilesAreCreatedUniqueInTheTemporaryFolder) {
    test::TempDir dir;
    test::ScopedEnv tmp(test::TempDirVariable(), dir.File("Geçici"));
    ForceDirectories(dir.File("Geçici"));
    const std::string a = CreateUniqueTempFile("tmp");
    const std::string b = CreateUniqueTempFile("tmp");
    EXPECT_NE(a, b);
    for (const std::string& name : {a, b}) {
        EXPECT_EQ(name.rfind(TempDirectory(), 0), 0u) << name;
        EXPECT_NE(name.find("Geçici"), std::string::npos) << name;
        EXPECT_TRUE(FileExists(name)) << name;
        EXPECT_TRUE(DeleteFileIfExists(name));
    }
}

TEST(Paths, ExecutableDirectoryEndsWithASeparatorAndHoldsThisProgram) {
    const std::string dir = ExecutableDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), PathSeparator());
    EXPECT_EQ(ExtractFileDir(dir + "Settings.xml") + PathSeparator(), dir);
}

} // namespace
} // namespace velmora::platform
