// The registry files: the classes view over the user's and the machine's
// trees, where writes go, and files that are not what they should be.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform/registry.h"
#include "support/child_process.h"
#include "support/test_files.h"

namespace {

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(user_.parent_path());
        platform::UseRegistryFiles(machine_.string(), user_.string());
    }
    void TearDown() override { platform::UseRegistryFiles("", ""); }

    std::string Read(HKEY root, const std::string& key, const std::string& name = "") {
        std::string text;
        const LONG r = RegistryReadText(root, key, name, &text);
        return r == ERROR_SUCCESS ? text : "error " + std::to_string(r);
    }

    ScratchFolder folder_{"registry"};
    std::filesystem::path machine_ = folder_ / "machine";
    std::filesystem::path user_ = folder_ / "user" / "registry";
};

TEST_F(RegistryTest, ClassesReadTheUsersKeysOverTheMachinesAndWriteWhereTold) {
    WriteFile(machine_.string(),
              "; tollane registry 1\n"
              "[Software\\Classes\\A]\n@=\"machine a\"\n\"Model\"=\"Both\"\n"
              "[Software\\Classes\\A\\Sub]\n@=\"machine sub\"\n"
              "[Software\\Classes\\B]\n@=\"machine \\\"b\\\" \\\\ x\"\n");
    WriteFile(user_.string(), "; tollane registry 1\n[Software\\Classes\\A]\n@=\"user a\"\n");
    const struct {
        const char* key;
        const char* name;
        std::string expected;
    } reads[] = {
        {"A", "", "user a"},  // the user's key stands for the whole key...
        {"a", "", "user a"},           {"A", "Model", "error 2"},  // ...its values too
        {"A\\Sub", "", "machine sub"}, {"B", "", "machine \"b\" \\ x"},
        {"C", "", "error 2"},          {"A\\\\Sub", "", "error 1010"},
    };
    for (const auto& r : reads)
        EXPECT_EQ(Read(HKEY_CLASSES_ROOT, r.key, r.name), r.expected) << r.key;

    // A value larger than the buffer tells its size.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "B", 0, KEY_READ, &key), ERROR_SUCCESS);
    char small[4];
    DWORD size = sizeof small;
    EXPECT_EQ(
        RegQueryValueEx(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
        ERROR_MORE_DATA);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

    // Plain writes go to the machine's tree; overridden, to the user's.
    const std::string text = "new";
    ASSERT_EQ(
        RegCreateKeyEx(HKEY_CLASSES_ROOT, "D\\E", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), 4),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, "Software\\Classes\\D\\E"), "new");
    HKEY classes = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS,
                             nullptr, &classes, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, classes), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "D"), ERROR_FILE_NOT_FOUND);  // not the user's
    EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "A"), ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr), ERROR_SUCCESS);
    RegCloseKey(classes);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, "A", "Model"), "Both");  // the machine's shows again
    EXPECT_EQ(Read(HKEY_CURRENT_USER, "Software\\Classes"), "error 2");  // the key, no value
    EXPECT_EQ(ReadFile(user_.string()), "; tollane registry 1\n[Software]\n[Software\\Classes]\n");
}

TEST_F(RegistryTest, DamagedFilesAreRefusedWithTheirLineAndNeverOverwritten) {
    const std::string deep = [] {
        std::string path = "K";
        for (int i = 0; i < 64; ++i)
            path += "\\K";
        return path;
    }();
    const struct {
        std::string text;
        const char* fault;
    } files[] = {
        {"[A]\n", "1: not a registry file"},
        {"; tollane registry 1\n[A\n", "2: a key line without its ']'"},
        {"; tollane registry 1\n@=\"x\"\n", "2: a value before the first key"},
        {"; tollane registry 1\n[A]\n@=x\n", "3: a value's data"},
        {"; tollane registry 1\n[A]\n@=\"x\n", "3: a value's data"},
        {"; tollane registry 1\n[A]\n@=\"\\q\"\n", "3: a value's data"},
        {"; tollane registry 1\n[A]\n@=\"x\" y\n", "3: a value's data"},
        {"; tollane registry 1\n[A]\n\"\"=\"x\"\n", "3: a value line without"},
        {"; tollane registry 1\n[A]\nname=\"x\"\n", "3: a value line without"},
        {"; tollane registry 1\n[A]\n\"n\"\"x\"\n", "3: a value without '='"},
        {"; tollane registry 1\n[A\\\\B]\n", "2: a key path"},
        {"; tollane registry 1\n[\\A]\n", "2: a key path"},
        {"; tollane registry 1\n[" + std::string(256, 'k') + "]\n", "2: a key path"},
        {"; tollane registry 1\n[A\x01]\n", "2: a key path"},
        {"; tollane registry 1\n[" + deep + "]\n", "2: a key path"},
        {"; tollane registry 1\n[A]\n@=\"" + std::string(70000, 'x') + "\"\n", "3: a value's data"},
        {"; tollane registry 1\n" + std::string(kRegistryMaxFileBytes, ';'), "1: larger than"},
    };
    for (const auto& f : files) {
        WriteFile(machine_.string(), f.text);
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "A", 0, KEY_READ, &key), ERROR_BADDB) << f.fault;
        EXPECT_EQ(RegistryLastFault().rfind(machine_.string() + ':' + f.fault, 0), 0u)
            << RegistryLastFault();
        EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "B", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                 nullptr),
                  ERROR_BADDB);
        EXPECT_EQ(ReadFile(machine_.string()), f.text);
    }
}

// Two processes changing one tree at once: each change reads the file, adds
// to it and writes it whole, so without a lock between them one would write
// over what the other had just added.
TEST_F(RegistryTest, ChangesOfTwoProcessesAtOnceAreAllKept) {
    constexpr int kValues = 40;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            for (int i = 0; i < kValues; ++i) {
                HKEY key = nullptr;
                const std::string name = std::to_string(c) + "-" + std::to_string(i);
                if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Shared", 0, nullptr, 0, KEY_WRITE, nullptr,
                                   &key, nullptr) != ERROR_SUCCESS ||
                    RegSetValueEx(key, name.c_str(), 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(name.c_str()),
                                  static_cast<DWORD>(name.size() + 1)) != ERROR_SUCCESS)
                    ::_exit(1);
                RegCloseKey(key);
            }
            ::_exit(0);
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (pid_t child : children) {
        int status = -1;
        EXPECT_TRUE(ReapChild(child, deadline, &status));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < kValues; ++i) {
            const std::string name = std::to_string(c) + "-" + std::to_string(i);
            EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, "Shared", name), name);
        }
    }
}

}  // namespace
