/*
 * test_compile_script.cc - the compile-script writer, and the scripts it
 * writes run for real.
 *
 * Each test works in a fresh directory: the settings template is written
 * there as ./.velorixrc and given the values that an installation stores,
 * with a product directory "prod/" beside it.  The scripts are compared
 * byte for byte with the expected expansion, then run the way the
 * analysis program runs them (the command of [Compiler] MAKERHS) on the
 * small model in tests/data, under tcsh for the csh style and under
 * /bin/sh and ksh for the ksh style.  The shared library they build is
 * loaded and called.
 */
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "file_writing.h"
#include "form_fields.h"
#include "settings_fixture.h"
#include "shell_detection.h"
#include "templates.h"
#include "utility.h"

#ifndef VX_TEST_DATA
#error "VX_TEST_DATA must name the tests/data directory"
#endif

namespace {

namespace fs = std::filesystem;
using vxtest::FileMode;
using vxtest::Messages;
using vxtest::ReadFile;
using vxtest::WriteFile;

constexpr int kCshStyle = kShellStyleCsh;
constexpr int kKshStyle = kShellStyleKsh;
constexpr std::size_t kMaxShellPath = kShellPathLimit;
constexpr std::size_t kCommandOutputSize = 4096;

// The path of a program as the shell finds it; empty when it is missing.
std::string commandPath(const std::string &name) {
  const std::string command = "command -v " + name;
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "";
  std::array<char, kCommandOutputSize> line{};
  std::string path;
  if (std::fgets(line.data(), static_cast<int>(line.size()), pipe) != nullptr) path = line.data();
  pclose(pipe);
  while (!path.empty() && (path.back() == '\n' || path.back() == ' '))
    path.pop_back();
  return path;
}

// A search path without its relative and empty entries, which would
// stand for the current directory.
std::string absoluteEntries(const std::string &path) {
  std::string kept;
  std::istringstream entries(path);
  for (std::string entry; std::getline(entries, entry, ':');) {
    if (entry.empty() || entry[0] != '/') continue;
    if (!kept.empty()) kept += ':';
    kept += entry;
  }
  return kept;
}

void store(const char *section, const char *key, const std::string &value) {
  std::array<char, VX_PARBUF_SIZE> buffer{};
  ASSERT_LT(value.size(), buffer.size());
  std::memcpy(buffer.data(), value.data(), value.size());
  ASSERT_TRUE(SetParam(section, key, buffer.data())) << section << "." << key;
}

// A shared library loaded for the length of a test.
class Library {
 public:
  explicit Library(const std::string &path)
      : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
  ~Library() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  Library(const Library &) = delete;
  Library &operator=(const Library &) = delete;
  bool loaded() const { return handle_ != nullptr; }
  template <typename F>
  F function(const char *name) const {
    return reinterpret_cast<F>(dlsym(handle_, name));
  }

 private:
  void *handle_;
};

// A working directory with the settings an installation leaves, and the
// product directory prod/ beside it.
class CompileScriptTest : public vxtest::ScratchTest {
 protected:
  CompileScriptTest() : ScratchTest("csXXXXXX") {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ScratchTest::SetUp());
    fs::create_directory("prod");
    kernel_ = (dir_ / "prod").string() + "/";

    ASSERT_TRUE(CreateFile("./.velorixrc", SetData, "rw-r--r--", false).ok());
    store("Paths", "KERNEL", kernel_);
    store("Paths", "KERNELW", "./");
    store("Compiler", "INCLUDE", " -I" + kernel_);
    store("Compiler", "LIB", "-lc -lm");
    store("Compiler", "CPPNAME", "c++");
    store("Compiler", "CPPLIB", " -O2 -fPIC -lc -lm");
    ASSERT_TRUE(Messages().empty());
  }

  // Writes the compile script to the path of [Compiler] BATCH, which the
  // writer receives in ParBuf as the installation hands it over.
  bool writeScript(int style, const std::string &shellPath) {
    if (GetParamString("Compiler", "BATCH") == nullptr) return false;
    script_ = ParBuf;
    return WriteCompileScript(ParBuf, style, shellPath).ok();
  }

  // Runs the script as [Compiler] MAKERHS says: the model's base name,
  // the library's base name and y or n.  The search path keeps only its
  // absolute entries, so that the script must find the programs it builds
  // in the current directory by their own path, as on most systems.
  void runScript(const std::string &target, const char *diff) {
    store("Compiler", "SOURCE", "model");
    store("Compiler", "TARGET", target);
    store("Compiler", "DIFF", diff);
    ASSERT_NE(GetParamString("Compiler", "MAKERHS"), nullptr);
    const std::string command = ParBuf;
    ASSERT_EQ(command, kernel_ + "CompRhs model " + target + " " + diff);
    const char *path = std::getenv("PATH");
    const std::string saved = path != nullptr ? path : "";
    ASSERT_EQ(setenv("PATH", absoluteEntries(saved).c_str(), 1), 0);
    const std::string line = command + " >script.out 2>&1";
    // What the script did is judged by what it leaves, as the analysis
    // program judges it.
    const int ignored = std::system(line.c_str());
    (void)ignored;
    ASSERT_EQ(setenv("PATH", saved.c_str(), 1), 0);
  }

  // The model and the system header that it includes from prod/.
  void prepareModel() {
    fs::copy_file(fs::path(VX_TEST_DATA) / "model.c", "model.c");
    ASSERT_TRUE(CreateFile((kernel_ + "vel_sys.h").c_str(), IncludeRhs, "r--r--r--", true).ok());
  }

  // The derivative branch's inputs: the symbolic-differentiation object in
  // prod/ (a stand-in), tmp_der.cc, leftovers of an earlier run, and an
  // external differentiator that appends the generated code to the model.
  void prepareDerivatives() {
    WriteFile(kernel_ + "autodif_stub.cc",
              "extern \"C\" int velo_autodif_stub(void) { return 42; }\n");
    const std::string compile =
        "c++ -c -fPIC -o " + kernel_ + "autodif.o " + kernel_ + "autodif_stub.cc";
    ASSERT_EQ(std::system(compile.c_str()), 0);
    WriteFile(
        "tmp_der.cc",
        "#include <cstdio>\n"
        "extern \"C\" int velo_autodif_stub(void);\n"
        "int main() {\n"
        "  FILE *out = std::fopen(\"tmp_fun.c\", \"w\");\n"
        "  std::fprintf(out, \"int velo_derived(void) { return %d; }\\n\", velo_autodif_stub());\n"
        "  std::fclose(out);\n"
        "  std::puts(\"tmp_der ran\");\n"
        "  return 0;\n"
        "}\n");
    WriteFile("tmp_der", "stale\n");
    WriteFile("tmp_fun1.h", "stale\n");
    WriteFile("CompDiff", "#!/bin/sh\ntouch compdiff_marker\ncat tmp_fun.c >>model.c\n");
    fs::permissions("CompDiff",
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
  }

  std::string kernel_;
  std::string script_;
};

TEST_F(CompileScriptTest, FirstLineIsTheShellPathWhateverTheStyle) {
  ASSERT_TRUE(writeScript(kCshStyle, "/bin/sh"));
  const std::string text = ReadFile(script_);
  EXPECT_EQ(text.substr(0, text.find('\n')), "#! /bin/sh");
  // A read-only script left by an earlier run is replaced, executable for
  // its owner, and no more open to others than it was.
  ASSERT_EQ(chmod(script_.c_str(), 0444), 0);
  ASSERT_TRUE(writeScript(kKshStyle, "/bin/ksh "));
  const std::string again = ReadFile(script_);
  EXPECT_EQ(again.substr(0, again.find('\n')), "#! /bin/ksh ");
  EXPECT_EQ(FileMode(script_), 0744u);
}

TEST_F(CompileScriptTest, RefusesWhatItCannotWrite) {
  ASSERT_NE(GetParamString("Compiler", "BATCH"), nullptr);
  const std::string batch = ParBuf;
  for (int style : {0, 3, -1}) {
    EXPECT_EQ(
        WriteCompileScript(batch, style, "/bin/sh").message(),
        "Unknown shell style " + std::to_string(style) + ": the compile script cannot be written");
  }
  EXPECT_FALSE(fs::exists(kernel_ + "CompRhs"));

  const std::string tooLong = "/" + std::string(kMaxShellPath, 's');
  EXPECT_EQ(WriteCompileScript(batch, kCshStyle, tooLong).message(),
            "The shell path is longer than 495 characters: the compile script cannot be written");
  EXPECT_FALSE(fs::exists(kernel_ + "CompRhs"));

  const std::string longest = "/" + std::string(kMaxShellPath - 1, 's');
  EXPECT_TRUE(writeScript(kCshStyle, longest));
  const std::string text = ReadFile(script_);
  EXPECT_EQ(text.substr(0, text.find('\n')), "#! " + longest);
  EXPECT_TRUE(Messages().empty());

  // An unopenable path is a fault of its own, which the caller shows.
  const Result unopenable = WriteCompileScript("no_such_dir/CompRhs", kCshStyle, "/bin/sh");
  EXPECT_EQ(unopenable.fault(), Fault::kNotOpened);
  EXPECT_EQ(unopenable.message(), "Cannot open batch file for compiler 'no_such_dir/CompRhs'");
  EXPECT_TRUE(Messages().empty());
}

struct ShellCase {
  const char *label;
  const char *program;  // looked up with command -v; "/bin/sh" as it is
  const char *options;  // what the shell path field adds
  int style;
};

class CompileScriptRun : public CompileScriptTest, public ::testing::WithParamInterface<ShellCase> {
 protected:
  void SetUp() override {
    CompileScriptTest::SetUp();
    const ShellCase &shell = GetParam();
    const std::string path =
        shell.program[0] == '/' ? std::string(shell.program) : commandPath(shell.program);
    if (path.empty()) GTEST_SKIP() << shell.program << " is not installed";
    ASSERT_TRUE(writeScript(shell.style, path + shell.options));
    prepareModel();
  }
};

TEST_P(CompileScriptRun, BuildsTheModelLibrary) {
  prepareDerivatives();  // present, but "n" must not touch them
  const std::string target = std::string("model_") + GetParam().label;
  runScript(target, "n");

  Library library(fs::absolute(target + ".so").string());
  ASSERT_TRUE(library.loaded()) << dlerror() << "\n"
                                << ReadFile("ErrLog") << ReadFile("script.out");
  auto value = library.function<double (*)(double)>("velo_model_value");
  auto index = library.function<int (*)(void)>("velo_model_index");
  auto truth = library.function<int (*)(void)>("velo_model_true");
  ASSERT_NE(value, nullptr);
  ASSERT_NE(index, nullptr);
  ASSERT_NE(truth, nullptr);
  EXPECT_DOUBLE_EQ(value(2.0), 13.0);
  EXPECT_EQ(index(), 14);  // 1 + 2*3/2 + 3*4*5/6
  EXPECT_EQ(truth(), 1);
  EXPECT_EQ(library.function<int (*)(void)>("velo_derived"), nullptr);

  EXPECT_FALSE(fs::exists("delete.o"));
  EXPECT_TRUE(fs::exists("ErrLog"));
  EXPECT_FALSE(fs::exists("compdiff_marker"));
  EXPECT_EQ(ReadFile("tmp_der"), "stale\n");
}

TEST_P(CompileScriptRun, DerivativeBranchRebuildsTheLibrary) {
  prepareDerivatives();
  const std::string target = std::string("model_y_") + GetParam().label;
  runScript(target, "y");

  const std::string log = ReadFile("ErrLog1");
  EXPECT_TRUE(fs::exists("compdiff_marker")) << log << ReadFile("script.out");
  EXPECT_NE(log.find("tmp_der ran"), std::string::npos) << log;
  EXPECT_FALSE(fs::exists("tmp_fun1.h"));
  EXPECT_NE(ReadFile("tmp_der"), "stale\n");
  EXPECT_FALSE(fs::exists("delete.o"));

  Library library(fs::absolute(target + ".so").string());
  ASSERT_TRUE(library.loaded()) << dlerror() << "\n" << ReadFile("ErrLog");
  auto derived = library.function<int (*)(void)>("velo_derived");
  ASSERT_NE(derived, nullptr) << "the library was not rebuilt after the differentiator";
  EXPECT_EQ(derived(), 42);
  auto value = library.function<double (*)(double)>("velo_model_value");
  ASSERT_NE(value, nullptr);
  EXPECT_DOUBLE_EQ(value(2.0), 13.0);
}

// What the analysis program does with the built model: it names the
// library in [Libraries] and loads it through the registry.
TEST_P(CompileScriptRun, RegistryLoadsTheBuiltLibraryByItsKey) {
  const std::string target = std::string("model_lib_") + GetParam().label;
  runScript(target, "n");
  store("Libraries", "RHSLIB", "$(Paths.KERNELW)" + target + "$(Extensions.LIB)");

  void *handle = LibraryLock("RHSLIB");
  ASSERT_NE(handle, nullptr) << ParBuf << "\n" << ReadFile("ErrLog") << ReadFile("script.out");
  auto index = reinterpret_cast<int (*)(void)>(LibraryFuncAddress(handle, "velo_model_index"));
  ASSERT_NE(index, nullptr);
  EXPECT_EQ(index(), 14);
  EXPECT_EQ(LibraryFuncAddressCond(handle, "velo_derived"), nullptr);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(LibraryUnlock(handle), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Shells, CompileScriptRun,
                         ::testing::Values(ShellCase{"tcsh", "tcsh", " -f", kCshStyle},
                                           ShellCase{"sh", "/bin/sh", " ", kKshStyle},
                                           ShellCase{"ksh", "ksh", " ", kKshStyle}),
                         [](const ::testing::TestParamInfo<ShellCase> &param) {
                           return std::string(param.param.label);
                         });

}  // namespace
