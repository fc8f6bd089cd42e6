/*
 * test_settings_template.cc - the default settings file SetData.
 *
 * The expected lines below are kept apart from the template on purpose and
 * typed from the documented file layout, so that a slip in either shows up
 * as a mismatch.  The second half installs the template as ./.velorixrc in
 * a private directory and reads the keys that the installation and the
 * analysis program depend on through the support library.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "file_writing.h"
#include "settings_fixture.h"
#include "templates.h"

namespace {

constexpr std::size_t kSectionCount = 17;
constexpr std::size_t kTextComments = 2;
constexpr std::size_t kKeyLines = 179;
constexpr std::size_t kKernelErrorCount = 66;
// The core library splits physical lines longer than this.
constexpr std::size_t kMaxPhysicalLine = 255;

struct Section {
  const char *header;
  std::vector<const char *> lines;
};

// Section by section, as the file must read.  KernelErrors is checked
// separately: only some of its texts are fixed.
const std::vector<Section> kSections = {
    {"[Paths]",
     {
         R"L(KERNEL=)L",
         R"L(KERNELW=)L",
         R"L(INCLUDE=$(Paths.KERNEL))L",
     }},
    {"[Extensions]",
     {
         R"L(C=.c)L",
         R"L(CPP=.cc)L",
         R"L(H=.h)L",
         R"L(OBJ=.o)L",
         R"L(RUN=`)L",
         R"L(BAT=`)L",
         R"L(LIB=.so)L",
         R"L(ARCH=.cat)L",
         R"L(TEMP=.tmp)L",
         R"L(SYS=.vpf)L",
         R"L(DESC=.vel)L",
         R"L(DIAG=.dgm)L",
         R"L(PS=.ps)L",
         R"L(ES=.es)L",
         R"L(ED=.ed)L",
         R"L(EC=.ec)L",
     }},
    {"[Libraries]",
     {
         R"L(RHSLIB=)L",
         R"L(WINLIB=)L",
         R"L(PARLIB=)L",
         R"L(UDFLIB=)L",
         R"L(WINCLASSLIB=)L",
         R"L(FORMAT=$(Paths.KERNEL)%s$(Extensions.LIB))L",
         R"L(LIBNAME=)L",
         R"L(AUTODIF=$(Paths.KERNEL)velodiff$(Extensions.LIB))L",
         R"L(AUTODIFOPT=+)L",
         R"L(HELPLIB=$(Paths.KERNEL)velohelp$(Extensions.LIB))L",
     }},
    {"[Functions]",
     {
         R"L(AUTODIF=autodif)L",
     }},
    {"[Files]",
     {
         R"L(TEMP=$(Paths.KERNELW)tmp$(Extensions.TEMP))L",
         R"L(TEMP2=$(Paths.KERNELW)tmp2$(Extensions.TEMP))L",
         R"L(NAMES=$(Paths.KERNELW)filenums$(Extensions.SYS))L",
         R"L(NAMES1.2=$(Paths.KERNELW)filenums$(Extensions.DESC))L",
         R"L(FORMAT=velo%04x)L",
         R"L(VN=$(Paths.KERNELW)visuals$(Extensions.SYS))L",
         R"L(RHS=tmp_sys)L",
         R"L(WIN=tmp_win)L",
         R"L(PAR=tmp_par)L",
         R"L(DER=tmp_der)L",
         R"L(UDF=tmp_udf)L",
         R"L(STAGEN=stagen1$(Extensions.H))L",
         R"L(CLASSFILE=$(Paths.KERNEL)classes$(Extensions.DESC))L",
         R"L(CLASSFILECUR=$(Paths.KERNEL)%s$(Extensions.DESC))L",
         R"L(INITFILE=$(Paths.KERNEL)init$(Extensions.SYS))L",
         R"L(PALETTE=$(Paths.KERNELW)palette$(Extensions.SYS))L",
     }},
    {"[MainWindow]",
     {
         R"L(OPTMASK=+-+++++++++)L",
     }},
    {"[Currents]",
     {
         R"L(; Set LOCK to - to run Velorix after a crash)L",
         R"L(LOCK=-)L",
         R"L(; Set STARTUP to 1 to run Velorix without active system after crash)L",
         R"L(STARTUP=0)L",
         R"L(CLASSCUR=)L",
         R"L(DIRECTORY=./)L",
         R"L(ARCHIVE=velorix$(Extensions.ARCH))L",
         R"L(SYSFONT=*)L",
         R"L(PRGFONT=*)L",
         R"L(W_MAIN=1/0,1/0)L",
         R"L(W_CURVE=-50/0,-50/0)L",
         R"L(W_POINT=-50/0,-50/0)L",
         R"L(W_HELPS=-1/0,-99/0)L",
         R"L(W_HELP=-99/0,-99/0)L",
         R"L(S_HELP=0.65,0.85)L",
     }},
    {"[Curves]",
     {
         R"L(UNTITLED=***)L",
         R"L(UNTITLEDMAX=2)L",
         R"L(FILTER=1,500,1)L",
         R"L(KEYS=space esc space enter)L",
         R"L(MOUSE=0)L",
         R"L(EXPORTOP=.)L",
     }},
    {"[Compiler]",
     {
         R"L(INCLUDE=)L",
         R"L(LIB=)L",
         R"L(CPPNAME=)L",
         R"L(CPPLIB=)L",
         R"L(LOGFILE=ErrLog)L",
         R"L(SOURCE=)L",
         R"L(TARGET=)L",
         R"L(DIFF=n)L",
         R"L(BATCH=$(Paths.KERNEL)CompRhs$(Extensions.BAT))L",
         R"L(MAKERHS=$(Paths.KERNEL)CompRhs$(Extensions.RUN) $(Compiler.SOURCE) $(Compiler.TARGET) $(Compiler.DIFF))L",
         R"L(HEADERF=vel_sys$(Extensions.H))L",
         R"L(HEADER=#include "$(Compiler.HEADERF)"~)L",
         R"L(HEADERPAR=#include "$(Files.STAGEN)"~#include <stdio.h>~)L",
         R"L(RHSATTR=`)L",
         R"L(CERRLINEO=$(Compiler.SOURCE)$(Extensions.C)! Error: in line %i: $(Compiler.CURERMSG))L",
         R"L(LERRLINEI=Warning: %[^~])L",
         R"L(CURERMSG=)L",
         R"L(EXTDIFFB=$(Paths.KERNELW)CompDiff$(Extensions.BAT))L",
         R"L(EXTDIFF=maple -q <%s >tmp.mo;grep '[ts][0-9]* =' tmp.mo|awk '{print "double ",$1,";"}'|sort -u|cat - tmp.mo >%s)L",
     }},
    {"[Visual]",
     {
         R"L(WINFILE=$(Paths.KERNEL)windows$(Extensions.DESC))L",
         R"L(WINHEADER=tmp_win$(Extensions.H))L",
         R"L(WINPAR=_ptr)L",
         R"L(WINDEFA=#define %s ((double *)((char *)**($(Visual.WINPAR)+%i)+%u))~)L",
         R"L(WINDEFS=#define %s (*((double *)((char *)**($(Visual.WINPAR)+%i)+%u)))~)L",
         R"L(INCLUDE=#include <stdio.h>~#include "$(Visual.WINHEADER)"~)L",
         R"L(HCVIEWER=ghostview -a5 -magstep 0 %s)L",
         R"L(HCPRINTER=lpr %s)L",
     }},
    {"[Params]",
     {
         R"L(FUNPAR1=_ptr)L",
         R"L(PRECISION=7)L",
     }},
    {"[Help]",
     {
         R"L(FILES=velorix.hlp velods.hlp)L",
         R"L(TEXT_FONT=times,18)L",
         R"L(FORMM_FONT=symbol,18)L",
         R"L(FORMT_FONT=times,18)L",
         R"L(FORMML_FONT=symbol,24)L",
         R"L(SCRT_FONT=times,12,b)L",
         R"L(SCRM_FONT=symbol,12)L",
         R"L(JUMP_FONT=times,18,b)L",
         R"L(BOLD_FONT=times,18,b)L",
         R"L(PROG_FONT=helvetica,18,b)L",
         R"L(JUMP_COLOR=0 0 255)L",
     }},
    {"[Window_2DGraphic]",
     {
         R"L(HARDCOPY=hardcopy$(Extensions.PS) 425.19685 340.15748 2 Times-Roman 10 2 2 1 f t f)L",
         R"L(NUMWIDTH=5)L",
     }},
    {"[Window_3DGraphic]",
     {
         R"L(HARDCOPY=hardcopy$(Extensions.PS) 425.19685 340.15748 2 Times-Roman 10 2 2 1 f t f)L",
         R"L(NUMWIDTH=5)L",
     }},
    {"[Window_Numeric]",
     {
         R"L(OPTIONS=6,t)L",
     }},
    {"[Window_ScrollTable]",
     {
         R"L(OPTIONS=100,6,t,t,t)L",
         R"L(HARDCOPY=hardcopy.dat 1)L",
     }},
    {"[KernelErrors]", {}},
};

const std::array<const char *, kKernelErrorCount> kKernelErrorKeys = {
    "_NoMemory", "_Open",      "_IoError",  "_Tell",       "_Seek",        "_Read",
    "_Write",    "LIBLOAD",    "LIBLOAD",   "FUNCADR",     "TRANSLN",      "MENUMEM",
    "DL_READ",   "DL_WRITE",   "DL_SEEK",   "DL_TELL",     "ED_MEM",       "ED_VARS",
    "ED_VARREP", "ED_LEN1",    "ED_LEN2",   "ED_TEXTLONG", "ED_WRTLONG",   "CT_OPEN",
    "CT_REF",    "CT_TYPE",    "CT_INVAL",  "CT_TFN",      "CT_TFM",       "CT_PFN",
    "CT_TFC",    "CT_SWITCH",  "CT_CONT",   "CT_UNSUPP",   "CT_FLT",       "VI_CLASS",
    "VI_OPEN",   "VI_WRITE",   "VI_MANY",   "VI_PAL",      "VI_PARBUF",    "VI_WFE",
    "VI_EXPAND", "VI_EMPTY",   "PA_OPEN",   "PA_NODIAG",   "PA_ERRMSG",    "AD_ERR",
    "AD_UD",     "AD_DF",      "HC_OPEN",   "UT_EMPTY",    "UT_DUPLICATE", "UF_MANY",
    "UF_NO",     "DT_STR",     "DT_COMPCL", "FU_NO",       "RHS_NO",       "IF_NOT",
    "IF_CLASS",  "IF_VERSION", "ID_CREATE", "ID_FILE",     "EC_NOPOINT",   "SECONDCOPY",
};

// The texts that other messages refer to or that the library shows.
const std::vector<const char *> kKernelErrorTexts = {
    R"L(_NoMemory=cannot allocate memory)L",
    R"L(_Open=cannot open file '%s')L",
    R"L(_IoError=i/o error in file '%s')L",
    R"L(_Tell=tell error~%s)L",
    R"L(_Seek=cannot seek to %08lx)L",
    R"L(_Read=cannot read %i bytes from %08lx)L",
    R"L(_Write=cannot write %i bytes from %08lx)L",
    R"L(LIBLOAD=- cannot load.~)L",
    R"L(LIBLOAD=- cannot load shared library)L",
    R"L(FUNCADR=- function not found)L",
    R"L(TRANSLN=Settings file '%s',~section '%s',~key '%s'~contains a reference to undefined value)L",
    R"L(MENUMEM=CreateMenus:~$(KernelErrors._NoMemory))L",
    R"L(DL_READ=DataLib '%s':~$(KernelErrors._Read))L",
    R"L(ED_LEN1=The text length is greater than 32767 characters.~Due to a limitation of the software Velorix is based on~it is not possible to determine position of the cursor~and the selected text (if any).~~)L",
    R"L(ED_LEN2=To avoid the limitation put your text into a separate file~and include it via the #include directive.~~)L",
    R"L(ED_TEXTLONG=$(KernelErrors.ED_LEN1)$(KernelErrors.ED_LEN2)Your request has been ignored.)L",
    R"L(ED_WRTLONG=?ync$(KernelErrors.ED_LEN1)$(KernelErrors.ED_LEN2)Press the 'Yes' button if you are sure the selected text~is within first 32767 characters.~Press the 'No' button to write the whole text.)L",
    R"L(VI_PARBUF=Visualizer: Cannot expand text, buffer is too small)L",
    R"L(SECONDCOPY=Velorix is still running or was not terminated properly.~In the first case click 'Yes', otherwise click 'No'~Terminate now?)L",
};

std::vector<std::string> TemplateLines() {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < kSetDataLines && SetData[i] != nullptr; ++i)
    lines.emplace_back(SetData[i]);
  return lines;
}

std::string KeyOf(const std::string &line) { return line.substr(0, line.find('=')); }

bool IsHeader(const std::string &line) {
  return line.size() > 2 && line.front() == '[' && line.back() == ']';
}

// Lines of section header, without the ";" line that introduces the next one.
std::vector<std::string> SectionLines(const std::string &header) {
  const auto all = TemplateLines();
  std::vector<std::string> out;
  bool in = false;
  for (const auto &line : all) {
    if (IsHeader(line)) {
      in = line == header;
      continue;
    }
    if (in && line != ";") out.push_back(line);
  }
  return out;
}

TEST(SettingsTemplate, TableShape) {
  for (std::size_t i = 0; i < kSetDataLines; ++i)
    ASSERT_NE(SetData[i], nullptr) << "line " << i;
  EXPECT_EQ(SetData[kSetDataLines], nullptr);

  std::size_t separators = 0, headers = 0, comments = 0, keys = 0;
  for (const auto &line : TemplateLines()) {
    EXPECT_LT(line.size(), kMaxPhysicalLine) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    if (line == ";") {
      ++separators;
    } else if (IsHeader(line)) {
      ++headers;
    } else if (line.front() == ';') {
      ++comments;
    } else {
      EXPECT_NE(line.find('='), std::string::npos) << line;
      ++keys;
    }
  }
  EXPECT_EQ(separators, kSectionCount);
  EXPECT_EQ(headers, kSectionCount);
  EXPECT_EQ(comments, kTextComments);
  EXPECT_EQ(keys, kKeyLines);
  EXPECT_STREQ(SetData[0], ";");
  EXPECT_EQ(std::strncmp(SetData[kSetDataLines - 1], "SECONDCOPY=", 11), 0)
      << SetData[kSetDataLines - 1];
}

TEST(SettingsTemplate, SectionsInOrderEachAfterItsSeparator) {
  const auto lines = TemplateLines();
  std::vector<std::string> headers;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!IsHeader(lines[i])) continue;
    headers.push_back(lines[i]);
    ASSERT_GT(i, 0u);
    EXPECT_EQ(lines[i - 1], ";") << "before " << lines[i];
  }
  ASSERT_EQ(headers.size(), kSections.size());
  for (std::size_t i = 0; i < headers.size(); ++i)
    EXPECT_EQ(headers[i], kSections[i].header);
}

TEST(SettingsTemplate, LinesOfEachSection) {
  for (const auto &section : kSections) {
    if (section.lines.empty()) continue;
    const auto got = SectionLines(section.header);
    ASSERT_EQ(got.size(), section.lines.size()) << section.header;
    for (std::size_t i = 0; i < got.size(); ++i)
      EXPECT_EQ(got[i], section.lines[i]) << section.header << " line " << i;
  }
}

TEST(SettingsTemplate, KernelErrorsKeysAndFixedTexts) {
  const auto got = SectionLines("[KernelErrors]");
  ASSERT_EQ(got.size(), kKernelErrorCount);
  for (std::size_t i = 0; i < got.size(); ++i)
    EXPECT_EQ(KeyOf(got[i]), kKernelErrorKeys[i]) << "entry " << i;

  // Each fixed text must stand at the next position of its key; the two
  // LIBLOAD lines are matched in order.
  std::size_t from = 0;
  for (const std::string fixed : kKernelErrorTexts) {
    const auto key = KeyOf(fixed);
    std::size_t at = from;
    while (at < got.size() && KeyOf(got[at]) != key)
      ++at;
    ASSERT_LT(at, got.size()) << fixed;
    EXPECT_EQ(got[at], fixed);
    from = at + 1;
  }

  // The texts worded freely still have to be messages: not empty.
  for (const auto &line : got)
    EXPECT_GT(line.size(), KeyOf(line).size() + 1) << line;
}

// Every $(Section.KEY) reference names a key the template itself defines,
// so that nothing but the placeholders can report an undefined value.
TEST(SettingsTemplate, ReferencesNameExistingKeys) {
  std::map<std::string, std::set<std::string>> keys;
  std::string current;
  for (const auto &line : TemplateLines()) {
    if (IsHeader(line)) {
      current = line.substr(1, line.size() - 2);
    } else if (line.front() != ';') {
      keys[current].insert(KeyOf(line));
    }
  }
  // A reference: "$(", a section name without ".", ".", a key without ")", ")".
  for (const auto &line : TemplateLines()) {
    for (std::size_t at = line.find("$("); at != std::string::npos; at = line.find("$(", at + 1)) {
      const std::size_t dot = line.find('.', at + 2);
      const std::size_t close = dot == std::string::npos ? dot : line.find(')', dot + 1);
      ASSERT_NE(close, std::string::npos) << "incomplete reference in " << line;
      const auto section = keys.find(line.substr(at + 2, dot - at - 2));
      ASSERT_NE(section, keys.end()) << line;
      EXPECT_EQ(section->second.count(line.substr(dot + 1, close - dot - 1)), 1u) << line;
    }
  }
}

// Only LIBLOAD may be repeated within a section: a second copy of any
// other key would never be read.
TEST(SettingsTemplate, NoUnintendedDuplicateKeys) {
  std::string current;
  std::set<std::string> seen;
  for (const auto &line : TemplateLines()) {
    if (IsHeader(line)) {
      current = line;
      seen.clear();
    } else if (line.front() != ';') {
      const auto key = KeyOf(line);
      if (!seen.insert(key).second) {
        EXPECT_TRUE(current == "[KernelErrors]" && key == "LIBLOAD") << current << " " << key;
      }
    }
  }
}

// ---- the template as a settings file, read through the support library ----

constexpr const char *kKernel = "/opt/velorix/";
constexpr const char *kKernelW = "/home/user/work/";
// Longest text any settings read may give.
constexpr std::size_t kMaxValue = VX_PARBUF_SIZE - 1;
constexpr std::size_t kWrtLongLength = 438;

std::string Or(const char *text) { return text != nullptr ? text : "(null)"; }

std::vector<std::string> FileLines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

std::string TemplateText() {
  std::string text;
  for (const auto &line : TemplateLines())
    text += line + "\n";
  return text;
}

class TemplateSettings : public vxtest::SettingsTest {
 protected:
  // The template as the installation writes it, then the two directories
  // it stores at once.
  void InstallTemplate() {
    WriteSettings(TemplateText());
    Store("Paths", "KERNEL", kKernel);
    Store("Paths", "KERNELW", kKernelW);
    Shown().clear();
  }

  static void Store(const char *section, const char *key, const std::string &value) {
    std::vector<char> buf(value.begin(), value.end());
    buf.push_back('\0');
    ASSERT_TRUE(SetParam(section, key, buf.data())) << section << "." << key;
  }
};

TEST_F(TemplateSettings, WrittenByCreateFileLineForLine) {
  ASSERT_TRUE(CreateFile(".velorixrc", SetData, "rw-r--r--", false).ok());
  const std::string text = FileText();
  EXPECT_EQ(text, TemplateText());
  const auto lines = FileLines(text);
  ASSERT_EQ(lines.size(), kSetDataLines);
  EXPECT_EQ(lines.front(), ";");
  EXPECT_EQ(lines.back().rfind("SECONDCOPY=", 0), 0u);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(TemplateSettings, PathsFollowTheProductDirectory) {
  InstallTemplate();
  EXPECT_EQ(Or(GetParam("Libraries", "AUTODIF")), std::string(kKernel) + "velodiff.so");
  EXPECT_EQ(Or(GetParam("Files", "CLASSFILE")), std::string(kKernel) + "classes.vel");
  EXPECT_EQ(Or(GetParam("Paths", "INCLUDE")), kKernel);
  EXPECT_EQ(Or(GetParam("Files", "NAMES1.2")), std::string(kKernelW) + "filenums.vel");
  EXPECT_EQ(Or(GetParam("Compiler", "BATCH")), std::string(kKernel) + "CompRhs");
  EXPECT_EQ(Or(GetParam("Files", "CLASSFILECUR", "base")), std::string(kKernel) + "base.vel");
  EXPECT_EQ(Or(GetParam("Files", "FORMAT", 26)), "velo001a");
  EXPECT_EQ(Or(GetParam("Window_2DGraphic", "HARDCOPY")),
            "hardcopy.ps 425.19685 340.15748 2 Times-Roman 10 2 2 1 f t f");
  // Values stored as the empty mark read as the empty text.
  EXPECT_EQ(Or(GetParam("Extensions", "RUN")), "");
  EXPECT_EQ(Or(GetParam("Compiler", "RHSATTR")), "");
  EXPECT_TRUE(Shown().empty());
}

TEST_F(TemplateSettings, IncludeLinesEndInNewlines) {
  InstallTemplate();
  EXPECT_EQ(Or(GetParam("Compiler", "HEADER")), "#include \"vel_sys.h\"\n");
  EXPECT_EQ(Or(GetParam("Visual", "INCLUDE")), "#include <stdio.h>\n#include \"tmp_win.h\"\n");
  EXPECT_EQ(Or(GetParam("Compiler", "HEADERPAR")), "#include \"stagen1.h\"\n#include <stdio.h>\n");
  EXPECT_TRUE(Shown().empty());
}

TEST_F(TemplateSettings, CompileCommandNeedsItsSource) {
  InstallTemplate();
  EXPECT_EQ(GetParam("Compiler", "MAKERHS"), nullptr);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0], "Settings file 'velorix',\nsection 'Compiler',\nkey 'MAKERHS'\n"
                        "contains a reference to undefined value");

  Shown().clear();
  Store("Compiler", "SOURCE", "model");
  Store("Compiler", "TARGET", "libmodel");
  EXPECT_EQ(Or(GetParam("Compiler", "MAKERHS")), std::string(kKernel) + "CompRhs model libmodel n");
  EXPECT_TRUE(Shown().empty());
}

TEST_F(TemplateSettings, MessageTexts) {
  InstallTemplate();
  EXPECT_EQ(Or(GetParamString("KernelErrors", "LIBLOAD")), "- cannot load.\n");
  const std::string wrtlong = Or(GetParamString("KernelErrors", "ED_WRTLONG"));
  EXPECT_EQ(wrtlong.size(), kWrtLongLength);
  EXPECT_EQ(wrtlong.rfind("?yncThe text length is greater than 32767 characters.\n", 0), 0u);
  EXPECT_EQ(Or(GetParamString("KernelErrors", "MENUMEM")), "CreateMenus:\ncannot allocate memory");
  EXPECT_TRUE(Shown().empty());

  // Every message, worded here or not, expands within the limit and
  // without an undefined reference.
  for (const auto &line : SectionLines("[KernelErrors]")) {
    const std::string key = KeyOf(line);
    const char *text = GetParamString("KernelErrors", key.c_str());
    ASSERT_NE(text, nullptr) << key;
    EXPECT_LE(std::strlen(text), kMaxValue) << key;
    EXPECT_EQ(std::strchr(text, '~'), nullptr) << key;
  }
  EXPECT_TRUE(Shown().empty());
}

// Every key of the installed template reads, except the placeholders that
// only the analysis program fills and the values built from them.
TEST_F(TemplateSettings, EveryOtherKeyReads) {
  InstallTemplate();
  const std::set<std::string> unfilled = {
      "Libraries.RHSLIB", "Libraries.WINLIB", "Libraries.PARLIB", "Libraries.UDFLIB",
      "Libraries.WINCLASSLIB", "Libraries.LIBNAME", "Compiler.SOURCE", "Compiler.TARGET",
      "Compiler.CURERMSG", "Compiler.MAKERHS", "Compiler.CERRLINEO",
      // filled by the installation from the form
      "Compiler.INCLUDE", "Compiler.LIB", "Compiler.CPPNAME", "Compiler.CPPLIB",
      "Currents.CLASSCUR"};
  std::string section;
  for (const auto &line : TemplateLines()) {
    if (IsHeader(line)) {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    if (line.front() == ';') continue;
    const std::string name = section + "." + KeyOf(line);
    Shown().clear();
    const char *text = GetParamString(section.c_str(), KeyOf(line).c_str());
    if (unfilled.count(name) != 0) {
      EXPECT_EQ(text, nullptr) << name;
      EXPECT_EQ(Shown().size(), 1u) << name;
    } else {
      EXPECT_NE(text, nullptr) << name;
      EXPECT_TRUE(Shown().empty()) << name << ": " << (Shown().empty() ? "" : Shown()[0]);
    }
  }
}

TEST_F(TemplateSettings, CommentLinesSurviveARewrite) {
  InstallTemplate();
  Store("Currents", "CLASSCUR", "standard");
  const auto lines = FileLines(FileText());
  std::size_t headers = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (IsHeader(lines[i])) {
      ++headers;
      ASSERT_GT(i, 0u);
      EXPECT_EQ(lines[i - 1], ";") << "before " << lines[i];
    }
    if (lines[i] == "LOCK=-") {
      EXPECT_EQ(lines.at(i - 1), "; Set LOCK to - to run Velorix after a crash");
    }
    if (lines[i] == "STARTUP=0") {
      EXPECT_EQ(lines.at(i - 1),
                "; Set STARTUP to 1 to run Velorix without active system after crash");
    }
  }
  EXPECT_EQ(headers, kSectionCount);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "CLASSCUR=standard"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), std::string("KERNEL=") + kKernel), lines.end());
}

}  // namespace
