// Opening a document: a stub xdg-open first on PATH records the arguments it
// is started with.
#include "shell.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wx/init.h>

#include <climits>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "io_test_support.h"

namespace {

using namespace testing_support;

// wxExecute needs the toolkit's base library set up.
class WxBase : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(wxInitialize()); }
  void TearDown() override { wxUninitialize(); }
};
::testing::Environment* const kWxBase = ::testing::AddGlobalTestEnvironment(new WxBase);

intptr_t Code(HINSTANCE result) { return reinterpret_cast<intptr_t>(result); }

std::string ProgramFolder() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string folder(path, n > 0 ? static_cast<size_t>(n) : 0);
  return folder.substr(0, folder.rfind('/'));
}

// A scratch folder as the current folder, with a stub xdg-open first on
// PATH that writes its arguments, each ended by a NUL, to a record file.
class ShellExecuteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    m_oldFolder = cwd;
    m_oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ASSERT_EQ(mkdir(m_folder.File("bin").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(m_folder.File("work").c_str(), 0755), 0);
    const std::string stub = m_folder.File("bin/xdg-open");
    WriteFile(stub, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + Record() +
                        ".part'\nmv '" + Record() + ".part' '" + Record() + "'\n");
    ASSERT_EQ(chmod(stub.c_str(), 0755), 0);
    setenv("PATH", (m_folder.File("bin") + ":" + m_oldPath).c_str(), 1);
    ASSERT_EQ(chdir(m_folder.File("work").c_str()), 0);
  }
  void TearDown() override {
    EXPECT_EQ(chdir(m_oldFolder.c_str()), 0);
    setenv("PATH", m_oldPath.c_str(), 1);
  }

  std::string Record() const { return m_folder.File("record"); }
  std::string Work(const std::string& name) const { return m_folder.File("work/" + name); }

  // The arguments the viewer got, once it has run.
  std::vector<std::string> ViewerArguments() {
    WaitFor([&] { return access(Record().c_str(), F_OK) == 0; }, 30s);
    std::vector<std::string> arguments;
    const std::string record = ReadFile(Record());
    for (size_t start = 0; start < record.size();) {
      const size_t end = record.find('\0', start);
      arguments.push_back(record.substr(start, end - start));
      start = end + 1;
    }
    return arguments;
  }
  // No viewer ran: it would have had plenty of time.
  bool ViewerNeverRan() {
    std::this_thread::sleep_for(300ms);
    return access(Record().c_str(), F_OK) != 0;
  }

  ScratchFolder m_folder;
  std::string m_oldFolder;
  std::string m_oldPath;
};

TEST_F(ShellExecuteTest, OpensTheFileAsOneArgumentWithoutAShell) {
  struct Case {
    const char* what;
    std::u16string name;
    std::string file;  // where it lies, under work/
  };
  const Case cases[] = {
      {"blanks and shell characters", u"help file; $(touch pwned) & 'x' \"y\" `z`.chm",
       "help file; $(touch pwned) & 'x' \"y\" `z`.chm"},
      {"not ASCII", u"Hilfe \u00dcbersicht.chm", "Hilfe \xc3\x9c" "bersicht.chm"},
      {"in a subfolder", u"docs/Morvelix.chm", "docs/Morvelix.chm"},
  };
  ASSERT_EQ(mkdir(Work("docs").c_str(), 0755), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    unlink(Record().c_str());
    WriteFile(Work(c.file), "help");
    EXPECT_GT(Code(ShellExecuteW(nullptr, u"open", c.name.c_str(), u"", nullptr, SW_SHOWNORMAL)), 32);
    const std::vector<std::string> arguments = ViewerArguments();
    ASSERT_EQ(arguments.size(), 1u);
    EXPECT_EQ(arguments[0], Work(c.file));
  }
  EXPECT_NE(access(Work("pwned").c_str(), F_OK), 0) << "a shell ran the name";
}

TEST_F(ShellExecuteTest, VerbOpenInAnyCaseOrNone) {
  WriteFile(Work("Morvelix.chm"), "help");
  const char16_t* const verbs[] = {u"open", u"OPEN", u"Open", u"", nullptr};
  for (const char16_t* verb : verbs) {
    SCOPED_TRACE(verb ? std::string(verb, verb + std::char_traits<char16_t>::length(verb)) : "null");
    unlink(Record().c_str());
    EXPECT_GT(Code(ShellExecuteW(nullptr, verb, u"Morvelix.chm", u"", nullptr, SW_SHOWNORMAL)), 32);
    EXPECT_EQ(ViewerArguments(), std::vector<std::string>{Work("Morvelix.chm")});
  }
  unlink(Record().c_str());
  const char16_t* const others[] = {u"print", u"edit", u"opens", u"ope"};
  for (const char16_t* verb : others) {
    EXPECT_EQ(Code(ShellExecuteW(nullptr, verb, u"Morvelix.chm", u"", nullptr, SW_SHOWNORMAL)),
              SE_ERR_NOASSOC);
  }
  EXPECT_TRUE(ViewerNeverRan());
}

TEST_F(ShellExecuteTest, TheProgramsFolderComesBeforeTheCurrentOne) {
  const std::string name = "beside-" + std::to_string(getpid()) + ".chm";
  const std::string beside = ProgramFolder() + "/" + name;
  WriteFile(beside, "help");
  WriteFile(Work(name), "help");
  const std::u16string name16(name.begin(), name.end());
  EXPECT_GT(Code(ShellExecuteW(nullptr, u"open", name16.c_str(), u"", nullptr, SW_SHOWNORMAL)), 32);
  EXPECT_EQ(ViewerArguments(), std::vector<std::string>{beside});
  unlink(beside.c_str());
}

TEST_F(ShellExecuteTest, AGivenFolderIsWhereARelativeNameIsLookedFor) {
  ASSERT_EQ(mkdir(m_folder.File("given").c_str(), 0755), 0);
  WriteFile(m_folder.File("given/Morvelix.chm"), "help");
  WriteFile(Work("Morvelix.chm"), "help");
  const std::string given = m_folder.File("given");
  const std::u16string given16(given.begin(), given.end());
  EXPECT_GT(Code(ShellExecuteW(nullptr, u"open", u"Morvelix.chm", u"", given16.c_str(), SW_SHOWNORMAL)), 32);
  EXPECT_EQ(ViewerArguments(), std::vector<std::string>{m_folder.File("given/Morvelix.chm")});
}

TEST_F(ShellExecuteTest, MissingFileOrViewerFailsQuietly) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Code(ShellExecuteW(nullptr, u"open", u"Morvelix.chm", u"", nullptr, SW_SHOWNORMAL)),
            SE_ERR_FNF);
  EXPECT_EQ(Code(ShellExecuteW(nullptr, u"open", u"", u"", nullptr, SW_SHOWNORMAL)), SE_ERR_FNF);
  ASSERT_EQ(mkdir(Work("Folder.chm").c_str(), 0755), 0);
  EXPECT_EQ(Code(ShellExecuteW(nullptr, u"open", u"Folder.chm", u"", nullptr, SW_SHOWNORMAL)),
            SE_ERR_FNF) << "a folder is no document";

  WriteFile(Work("Morvelix.chm"), "help");
  setenv("PATH", m_folder.File("work").c_str(), 1);  // no xdg-open anywhere on it
  EXPECT_EQ(Code(ShellExecuteW(nullptr, u"open", u"Morvelix.chm", u"", nullptr, SW_SHOWNORMAL)),
            SE_ERR_NOASSOC);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(ViewerNeverRan());
}

}  // namespace
