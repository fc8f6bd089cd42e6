/*
 * test_settings.cc - reading, expanding, formatting and storing settings
 * values through the support library, on the real core library.
 *
 * Every test writes the settings lines it needs into its own ./.velorixrc
 * (see settings_fixture.h) and reads the message boxes through the core
 * library's message hook.
 */
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "settings_fixture.h"

namespace {

using vxtest::SettingsTest;

// Runs write with files limited to limit bytes, as a full disk would cut
// them (the writes fail with EFBIG, SIGXFSZ ignored), even for root.  False
// when the limit cannot be set.
bool WithFileSizeLimit(rlim_t limit, const std::function<void()> &write) {
  struct rlimit saved {};
  if (getrlimit(RLIMIT_FSIZE, &saved) != 0) return false;
  struct rlimit small = saved;
  small.rlim_cur = limit;
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  const bool set = setrlimit(RLIMIT_FSIZE, &small) == 0;
  if (set) write();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  return set;
}

// The report of an undefined reference as the template words it.
constexpr const char *kTranslnLine =
    "TRANSLN=Settings file '%s',~section '%s',~key '%s'~contains a reference to undefined value\n";

std::string Translated(const char *section, const char *key, const char *reference) {
  return std::string("Settings file 'velorix',\nsection '") + section + "',\nkey '" + key +
         "'\ncontains a reference to undefined value" + (reference != nullptr ? reference : "");
}

std::string Or(const char *text) { return text != nullptr ? text : "(null)"; }

// ---- plain reads and the not-found report ----

TEST_F(SettingsTest, ReadsPlainValuesAndReportsMissingOrEmptyKeys) {
  WriteSettings("[Paths]\nKERNEL=/opt/velorix/\nEMPTY=\nMARKED=`\n");
  EXPECT_EQ(Or(GetParam("Paths", "KERNEL")), "/opt/velorix/");
  EXPECT_EQ(Or(GetParamString("paths", "kernel")), "/opt/velorix/");
  EXPECT_TRUE(Shown().empty());

  // The empty mark alone is the empty text, not "not found".
  EXPECT_EQ(Or(GetParamString("Paths", "MARKED")), "");
  EXPECT_EQ(Or(GetParam("Paths", "MARKED")), "");
  EXPECT_TRUE(Shown().empty());

  std::strcpy(ParBuf, "kept");
  EXPECT_EQ(GetParam("Paths", "EMPTY"), nullptr);
  EXPECT_STREQ(ParBuf, "kept");
  EXPECT_EQ(GetParam("Paths", "NOPE"), nullptr);
  EXPECT_STREQ(ParBuf, "kept");
  EXPECT_EQ(GetParamString("Paths", "NOPE"), nullptr);
  EXPECT_STREQ(ParBuf, "");
  ASSERT_EQ(Shown().size(), 3u);
  EXPECT_EQ(Shown()[0], "Settings file 'velorix', section 'Paths', key 'EMPTY': not found");
  EXPECT_EQ(Shown()[1], "Settings file 'velorix', section 'Paths', key 'NOPE': not found");
  EXPECT_EQ(Shown()[2], Shown()[1]);
}

TEST_F(SettingsTest, ConfigFilePathTellsWhetherTheLocalFileExists) {
  EXPECT_TRUE(GetConfigFilePath());
  ASSERT_EQ(std::remove(".velorixrc"), 0);
  EXPECT_FALSE(GetConfigFilePath());
}

// ---- reference expansion ----

TEST_F(SettingsTest, ExpandsNestedReferencesInAnyLetterCase) {
  WriteSettings("[Paths]\nKERNEL=/opt/velorix/\nINCLUDE=$(Paths.KERNEL)\n"
                "[Files]\nNAMES1.2=names.v12\nHEADER=$(paths.include)sys.h and $(PATHS.Kernel)\n"
                "DOTTED=<$(Files.NAMES1.2)>\n");
  EXPECT_EQ(Or(GetParamString("Paths", "INCLUDE")), "/opt/velorix/");
  EXPECT_EQ(Or(GetParamString("Files", "HEADER")), "/opt/velorix/sys.h and /opt/velorix/");
  EXPECT_EQ(Or(GetParamString("Files", "DOTTED")), "<names.v12>");
  EXPECT_TRUE(Shown().empty());
}

TEST_F(SettingsTest, DollarsThatBeginNoCompleteReferenceStayAndExpansionGoesOn) {
  WriteSettings("[Paths]\nKERNEL=K\n"
                "[T]\nA=cost $5 $(Paths.KERNEL)\nB=$(Paths.KERNEL$(Paths.KERNEL)\n"
                "C=$(.KERNEL) $(Paths.) $(Paths.KERNEL) end$\nD=$(Paths $(Paths.KERNEL)\n");
  EXPECT_EQ(Or(GetParamString("T", "A")), "cost $5 K");
  // No ")" after the first "$(": the key would run to the ")" of the
  // second reference, "KERNEL$(Paths.KERNEL", which is defined nowhere.
  EXPECT_EQ(GetParamString("T", "B"), nullptr);
  EXPECT_EQ(Or(GetParamString("T", "C")), "$(.KERNEL) $(Paths.) K end$");
  EXPECT_TRUE(Shown().empty());
}

TEST_F(SettingsTest, DollarParenWithoutDotSwallowsALaterReference) {
  WriteSettings(std::string("[KernelErrors]\n") + kTranslnLine +
                "[Paths]\nKERNEL=K\n[T]\nS=$(abc) then $(Paths.KERNEL)\n");
  EXPECT_EQ(GetParamString("T", "S"), nullptr);
  // The section name ran from "abc" to the first ".", so the text is cut
  // right there.
  EXPECT_STREQ(ParBuf, "$(abc) then $(Paths");
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0], Translated("T", "S", nullptr));
}

TEST_F(SettingsTest, UndefinedReferenceCutsTheTextAndStopsExpansion) {
  WriteSettings(
      std::string("[KernelErrors]\n") + kTranslnLine +
      "[Paths]\nKERNEL=K\n[T]\nONE=a$(Nowhere.KEY)b\nTWO=$(Paths.KERNEL)$(No.A)$(Paths.KERNEL)$(No.B)\n");
  EXPECT_EQ(GetParamString("T", "ONE"), nullptr);
  EXPECT_STREQ(ParBuf, "a$(Nowhere");
  // Expanded up to the failure; later references neither expand nor report.
  EXPECT_EQ(GetParamString("T", "TWO"), nullptr);
  EXPECT_STREQ(ParBuf, "K$(No");
  ASSERT_EQ(Shown().size(), 2u);
  EXPECT_EQ(Shown()[0], Translated("T", "ONE", nullptr));
  EXPECT_EQ(Shown()[1], Translated("T", "TWO", nullptr));

  // GetParam fails the same way and leaves ParBuf alone.
  std::strcpy(ParBuf, "kept");
  EXPECT_EQ(GetParam("T", "ONE"), nullptr);
  EXPECT_STREQ(ParBuf, "kept");
}

TEST_F(SettingsTest, UndefinedReferenceInTextOfNoKeyNamesTheReference) {
  WriteSettings(std::string("[KernelErrors]\n") + kTranslnLine);
  char text[VX_PARBUF_SIZE] = "x$(Paths.NOPE)y";
  EXPECT_FALSE(Translate(text, nullptr, nullptr));
  EXPECT_STREQ(text, "x$(Paths");
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0], Translated("(not a settings value)", "$(Paths.NOPE)", nullptr));
}

TEST_F(SettingsTest, WithoutTranslnTheFailureStaysButIsNotShown) {
  WriteSettings("[T]\nA=$(No.KEY)\n");
  EXPECT_EQ(GetParamString("T", "A"), nullptr);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(SettingsTest, EmptyAndLineBreakMarks) {
  WriteSettings(
      "[Extensions]\nRUN=`\nC=.c\n"
      "[Compiler]\nHEADER=#include \"velorix.h\"~\nLERRLINEI=Warning: %[^~]\n"
      "SRC=a``b$(Extensions.RUN)c$(Extensions.C)~`\nMARKS=$(Compiler.SPLICE)\nSPLICE=x`~`y\n");
  EXPECT_EQ(Or(GetParamString("Compiler", "HEADER")), "#include \"velorix.h\"\n");
  EXPECT_EQ(Or(GetParamString("Compiler", "LERRLINEI")), "Warning: %[^\n]");
  EXPECT_EQ(Or(GetParamString("Compiler", "SRC")), "abc.c\n");
  EXPECT_EQ(Or(GetParamString("Compiler", "MARKS")), "x\ny");

  // TranslateRef splices without the marks of the value but keeps those
  // of the text itself.
  char text[VX_PARBUF_SIZE] = "`$(Compiler.SPLICE)~";
  EXPECT_TRUE(TranslateRef(text, "T", "T"));
  EXPECT_STREQ(text, "`x~y~");
  char marks[] = "``a`b``";
  RemoveEmptyChars(marks);
  EXPECT_STREQ(marks, "ab");
}

TEST_F(SettingsTest, InsertedValuesAreScannedAgainEachWithItsOwnSection) {
  // The inserted value starts a reference that the rest of the text
  // completes: the scan goes on at the "$" where the value began.
  WriteSettings("[A]\nOPEN=$(B.\nK=$(A.OPEN)K)!\n[B]\nK=done\n");
  EXPECT_EQ(Or(GetParamString("A", "K")), "done!");
}

// ---- cycles and lengths ----

TEST_F(SettingsTest, ReferenceCyclesEndWithAReport) {
  WriteSettings("[S]\nSELF=x$(S.SELF)\nA=a$(S.B)\nB=b$(s.a)\nLOOPEMPTY=$(S.LOOPEMPTY)\n"
                "TWICE=$(S.LEAF)$(S.LEAF)$(S.LEAF)\nLEAF=l\nOPEN=$(S.OPEN\nSTRADDLE=$(S.OPEN))\n");
  EXPECT_EQ(GetParamString("S", "SELF"), nullptr);
  EXPECT_EQ(GetParamString("S", "A"), nullptr);
  EXPECT_EQ(GetParamString("S", "LOOPEMPTY"), nullptr);
  // The value ends inside the reference that it starts: still a loop.
  EXPECT_EQ(GetParamString("S", "STRADDLE"), nullptr);
  ASSERT_EQ(Shown().size(), 4u);
  EXPECT_NE(Shown()[0].find("section 'S', key 'SELF'"), std::string::npos) << Shown()[0];
  EXPECT_NE(Shown()[0].find("$(S.SELF) refers back to itself"), std::string::npos) << Shown()[0];
  EXPECT_NE(Shown()[1].find("refers back to itself"), std::string::npos) << Shown()[1];
  // The same key used side by side is no cycle.
  EXPECT_EQ(Or(GetParamString("S", "TWICE")), "lll");
  EXPECT_EQ(Shown().size(), 4u);
}

// A chain of references has no depth limit of its own: only a key met
// again on it (a cycle) or a text too long for the buffer stops it.
TEST_F(SettingsTest, ChainsExpandToAnyDepthAndStopOnlyAtAKeyMetAgain) {
  constexpr int kLength = 2000;
  std::string chains = "[C]\n";
  for (int i = 0; i < kLength; ++i) {
    const std::string next = std::to_string(i + 1);
    // Ending with the reference, holding text before it, and after it
    // (a level kept open for each: only as many as the buffer has room).
    chains += "E" + std::to_string(i) + "=$(c.E" + next + ")\n";
    chains += "B" + std::to_string(i) + "=b$(C.B" + next + ")\n";
    if (i < 400) chains += "A" + std::to_string(i) + "=$(C.A" + next + ")a\n";
  }
  chains += "E" + std::to_string(kLength) + "=end\nB" + std::to_string(kLength) + "=`\nA400=z\n";
  // The same chain whose last key leads back into its middle.
  for (int i = 0; i < 100; ++i)
    chains += "R" + std::to_string(i) + "=$(C.R" + std::to_string(i + 1) + ")\n";
  chains += "R100=r$(C.R50)\n";
  WriteSettings(chains);
  EXPECT_EQ(Or(GetParamString("C", "E0")), "end");
  EXPECT_EQ(Or(GetParamString("C", "B1800")), std::string(200, 'b'));
  EXPECT_EQ(Or(GetParamString("C", "A0")), "z" + std::string(400, 'a'));
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(GetParamString("C", "B0"), nullptr);  // 2000 characters
  EXPECT_EQ(GetParamString("C", "R0"), nullptr);
  ASSERT_EQ(Shown().size(), 2u);
  EXPECT_NE(Shown()[0].find("longer than 499 characters"), std::string::npos) << Shown()[0];
  EXPECT_NE(Shown()[1].find("key 'R0':\nthe reference $(C.R50) refers back to itself"),
            std::string::npos)
      << Shown()[1];
}

TEST_F(SettingsTest, OverlongExpansionIsRefusedNotWrittenPastTheBuffer) {
  const std::string hundred(100, 'x');
  WriteSettings("[L]\nH=" + hundred +
                "\nFIVE=$(L.H)$(L.H)$(L.H)$(L.H)$(L.H)\nFOUR=$(L.H)$(L.H)$(L.H)$(L.H)\n");
  EXPECT_EQ(Or(GetParamString("L", "FOUR")), std::string(400, 'x'));
  EXPECT_EQ(GetParamString("L", "FIVE"), nullptr);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_NE(Shown()[0].find("longer than 499 characters"), std::string::npos) << Shown()[0];

  // A smaller buffer: the guard bytes behind it must stay untouched.
  char small[40 + 8];
  std::memset(small, '#', sizeof small);
  std::strcpy(small, "<$(L.H)>");
  EXPECT_FALSE(TranslateSized(small, 40, "L", "SMALL"));
  EXPECT_EQ(std::string(small + 40, 8), std::string(8, '#'));
  EXPECT_STREQ(small, "<$(L");
}

TEST_F(SettingsTest, ValuesLongerThanTheBufferAreRefused) {
  WriteSettings("[L]\nSHORT=s\n");
  // Only a value stored in memory can be this long; the file splits lines.
  const std::string long_value(600, 'v');
  ASSERT_TRUE(Nlm_SetAppParam("velorix", "L", "LONG", long_value.c_str()));
  Shown().clear();
  EXPECT_EQ(GetParam("L", "LONG"), nullptr);
  EXPECT_EQ(GetParamString("L", "LONG"), nullptr);
  ASSERT_EQ(Shown().size(), 2u);
  EXPECT_NE(Shown()[0].find("key 'LONG':\nthe value is longer than 499 characters"),
            std::string::npos);
}

// ---- GetParamAppend ----

TEST_F(SettingsTest, AppendExpandsTheWholeBufferAndKeepsItOnFailure) {
  WriteSettings(
      "[Paths]\nINCLUDE=/opt/inc/\n[Compiler]\nHEADERF=velorix.h\nREF=$(Paths.INCLUDE)x\n");
  ASSERT_NE(GetParam("Paths", "INCLUDE"), nullptr);
  EXPECT_EQ(Or(GetParamAppend("Compiler", "HEADERF")), "/opt/inc/velorix.h");

  // Text already in the buffer is expanded together with the value.
  std::strcpy(ParBuf, "$(Paths.");
  EXPECT_EQ(Or(GetParamAppend("Compiler", "HEADERF")), "$(Paths.velorix.h");
  ParBuf[0] = '\0';
  const std::string appended = Or(GetParamAppend("Compiler", "REF"));
  EXPECT_EQ(appended, Or(GetParamString("Compiler", "REF")));

  std::strcpy(ParBuf, "before");
  EXPECT_EQ(GetParamAppend("Compiler", "NOPE"), nullptr);
  EXPECT_STREQ(ParBuf, "before");

  // Appending must not run past the buffer.
  std::memset(ParBuf, 'p', VX_PARBUF_SIZE - 5);
  ParBuf[VX_PARBUF_SIZE - 5] = '\0';
  Shown().clear();
  EXPECT_EQ(GetParamAppend("Compiler", "HEADERF"), nullptr);
  EXPECT_EQ(std::strlen(ParBuf), VX_PARBUF_SIZE - 5u);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_NE(Shown()[0].find("does not fit"), std::string::npos);

  // The registry's use: a library name followed by the first of the two
  // LIBLOAD texts.
  WriteSettings("[KernelErrors]\nLIBLOAD=- cannot load.~\nLIBLOAD=- cannot load shared library\n");
  std::strcpy(ParBuf, "libmodel.so ");
  EXPECT_EQ(Or(GetParamAppend("KernelErrors", "LIBLOAD")), "libmodel.so - cannot load.\n");
}

// ---- formatting ----

TEST_F(SettingsTest, PrintfStyleValuesFormatAsPrintfWould) {
  WriteSettings(
      "[Files]\nFORMAT=velo%04x\nPCT=100%% done\n"
      "[Visual]\nWINPAR=w\nWINDEFA=#define %s ((double *)((char *)**($(Visual.WINPAR)+%i)+%u))~\n"
      "[T]\nLONG=%08lx|%5.2f|%-4s|%c\n");
  EXPECT_EQ(Or(GetParam("Files", "FORMAT", 26)), "velo001a");
  EXPECT_EQ(Or(GetParamString("Files", "FORMAT")), "velo%04x");
  EXPECT_EQ(Or(GetParam("Files", "PCT")), "100% done");
  EXPECT_EQ(Or(GetParamString("Files", "PCT")), "100%% done");
  EXPECT_EQ(Or(GetParam("Visual", "WINDEFA", "x", 3, 8u)),
            "#define x ((double *)((char *)**(w+3)+8))\n");
  EXPECT_EQ(Or(GetParam("T", "LONG", 0xbeefL, 3.14159, "ab", 'z')), "0000beef| 3.14|ab  |z");
  // Integers of any width fill any integer directive.
  EXPECT_EQ(Or(GetParam("Files", "FORMAT", static_cast<unsigned char>(26))), "velo001a");
  EXPECT_EQ(Or(GetParam("Files", "FORMAT", 26LL)), "velo001a");
  EXPECT_TRUE(Shown().empty());
}

TEST_F(SettingsTest, MismatchedDirectivesAreRefusedWithAReport) {
  WriteSettings("[Files]\nFORMAT=velo%04x\nN=count%n\nSTAR=%*d\nTWO=%s and %s\nPOS=%1$s\n");
  std::strcpy(ParBuf, "kept");
  EXPECT_EQ(GetParam("Files", "FORMAT"), nullptr);
  EXPECT_EQ(GetParam("Files", "FORMAT", "text"), nullptr);
  EXPECT_EQ(GetParam("Files", "FORMAT", 1, 2), nullptr);
  EXPECT_EQ(GetParam("Files", "N", 1), nullptr);
  EXPECT_EQ(GetParam("Files", "STAR", 4, 1), nullptr);
  EXPECT_EQ(GetParam("Files", "TWO", "one"), nullptr);
  EXPECT_EQ(GetParam("Files", "POS", "one"), nullptr);
  EXPECT_STREQ(ParBuf, "kept");
  ASSERT_EQ(Shown().size(), 7u);
  for (const std::string &shown : Shown()) {
    EXPECT_EQ(shown.rfind("Settings file 'velorix', section 'Files', key '", 0), 0u) << shown;
    EXPECT_NE(shown.find("the value cannot be used: "), std::string::npos) << shown;
  }
  EXPECT_NE(Shown()[1].find("needs an integer, but argument 1 is a string"), std::string::npos)
      << Shown()[1];
  EXPECT_NE(Shown()[3].find("\"%n\" is not allowed"), std::string::npos) << Shown()[3];
}

TEST_F(SettingsTest, FormattedResultLongerThanTheBufferIsRefused) {
  WriteSettings("[T]\nWIDE=%450d%100d\nFITS=%450d\n");
  EXPECT_EQ(GetParam("T", "WIDE", 1, 2), nullptr);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_NE(Shown()[0].find("longer than 499 characters"), std::string::npos) << Shown()[0];
  EXPECT_EQ(std::strlen(Or(GetParam("T", "FITS", 1)).c_str()), 450u);
}

TEST_F(SettingsTest, PercentFromAReferencedValueIsLiteral) {
  WriteSettings("[Paths]\nKERNEL=/opt/50%off/\nINCLUDE=$(Paths.KERNEL)\n[Extensions]\nDESC=.vel\n"
                "[Files]\nCLASSFILECUR=$(Paths.KERNEL)%s$(Extensions.DESC)\n");
  EXPECT_EQ(Or(GetParam("Files", "CLASSFILECUR", "lorenz")), "/opt/50%off/lorenz.vel");
  EXPECT_EQ(Or(GetParam("Paths", "INCLUDE")), "/opt/50%off/");
  EXPECT_EQ(Or(GetParamString("Files", "CLASSFILECUR")), "/opt/50%off/%s.vel");
  EXPECT_TRUE(Shown().empty());
  // Read as a value of its own, the directory's "%" is a directive for
  // which no argument was given: refused, naming the key.
  EXPECT_EQ(GetParam("Paths", "KERNEL"), nullptr);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].rfind("Settings file 'velorix', section 'Paths', key 'KERNEL':", 0), 0u)
      << Shown()[0];
}

// ---- Warning ----

TEST_F(SettingsTest, WarningShowsTheFormattedMessage) {
  WriteSettings(
      "[KernelErrors]\n_Read=cannot read %i bytes from %08lx\nDL_READ=DataLib '%s':~$(KernelErrors._Read)\n"
      "_Open=cannot open file '%s'\nEMPTY=\nPLAIN=100%% sure~~\n");
  EXPECT_TRUE(Warning("DL_READ", "lib", 12, 0x1fL));
  EXPECT_TRUE(Warning("NOPE"));
  EXPECT_TRUE(Warning("EMPTY"));
  EXPECT_TRUE(Warning("PLAIN"));
  // The argument is shown as it is, with no second formatting pass.
  EXPECT_TRUE(Warning("_Open", "%s%n~"));
  ASSERT_EQ(Shown().size(), 3u);
  EXPECT_EQ(Shown()[0], "DataLib 'lib':\ncannot read 12 bytes from 0000001f");
  EXPECT_EQ(Shown()[1], "100% sure\n\n");
  EXPECT_EQ(Shown()[2], "cannot open file '%s%n~'");
}

TEST_F(SettingsTest, WarningWithBadDirectivesOrArgumentsIsReportedNotFormatted) {
  WriteSettings("[KernelErrors]\n_Open=cannot open file '%s'\nBAD=%n\n");
  EXPECT_TRUE(Warning("_Open"));
  EXPECT_TRUE(Warning("_Open", 3));
  EXPECT_TRUE(Warning("BAD", 1));
  const std::string overlong(VX_PARBUF_SIZE, 'h');
  EXPECT_TRUE(Warning("_Open", overlong.c_str()));
  ASSERT_EQ(Shown().size(), 4u);
  EXPECT_NE(Shown()[3].find("longer than 499 characters"), std::string::npos) << Shown()[3];
  for (const std::string &shown : Shown()) {
    EXPECT_EQ(shown.rfind("Settings file 'velorix', section 'KernelErrors', key '", 0), 0u)
        << shown;
    EXPECT_NE(shown.find("the message cannot be shown"), std::string::npos) << shown;
  }
}

TEST_F(SettingsTest, WarningWithAnUndefinedReferenceShowsOnlyTheReport) {
  WriteSettings(std::string("[KernelErrors]\n") + kTranslnLine +
                "BROKEN=Oops: $(KernelErrors.MISSING) %s\n");
  EXPECT_TRUE(Warning("BROKEN", "arg"));
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0], Translated("KernelErrors", "BROKEN", nullptr));
}

TEST_F(SettingsTest, BrokenUndefinedReferenceReportDoesNotRecurse) {
  WriteSettings("[KernelErrors]\nTRANSLN=Bad: $(KernelErrors.ALSO_MISSING)\nBROKEN=$(No.Where)\n");
  EXPECT_TRUE(Warning("BROKEN"));
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(GetParamString("KernelErrors", "BROKEN"), nullptr);
  EXPECT_TRUE(Shown().empty());
}

// ---- SetParam ----

TEST_F(SettingsTest, SetParamStoresLineBreaksAsMarksInTheCallersBuffer) {
  char value[] = "line one\nline two\n";
  EXPECT_TRUE(SetParam("Notes", "TEXT", value));
  EXPECT_STREQ(value, "line one~line two~");
  EXPECT_NE(FileText().find("TEXT=line one~line two~\n"), std::string::npos) << FileText();
  EXPECT_EQ(Or(GetParamString("Notes", "TEXT")), "line one\nline two\n");

  // Outer blanks last until the file is read anew.
  char padded[] = "  padded  ";
  EXPECT_TRUE(SetParam("Notes", "PAD", padded));
  EXPECT_EQ(Or(GetParamString("Notes", "PAD")), "  padded  ");
  SettingsReload();
  EXPECT_EQ(Or(GetParamString("Notes", "PAD")), "padded");

  // References, "%" and empty marks are stored as they are.
  char raw[] = "$(Paths.KERNEL)%s`";
  EXPECT_TRUE(SetParam("Notes", "RAW", raw));
  EXPECT_NE(FileText().find("RAW=$(Paths.KERNEL)%s`\n"), std::string::npos);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(SettingsTest, ScratchKeyExpandsFreeTextAndIsRemovedAfterwards) {
  char line[] = "cc -I$(Paths.KERNEL) -c";
  ASSERT_TRUE(SetParam("TMP", "TMP", line));
  EXPECT_EQ(Or(GetParamString("TMP", "TMP")), "cc -I/opt/velorix/ -c");
  EXPECT_TRUE(SetParam("TMP", nullptr, nullptr));
  EXPECT_EQ(FileText().find("[TMP]"), std::string::npos) << FileText();
  EXPECT_EQ(GetParamString("TMP", "TMP"), nullptr);

  // Of two equal sections the core library removes the first only; that
  // is a success, and the second one then takes its place.
  WriteSettings("[TMP]\nTMP=1\n[A]\nX=1\n[tmp]\nTMP=2\n");
  EXPECT_TRUE(SetParam("TMP", nullptr, nullptr));
  EXPECT_EQ(Or(GetParamString("TMP", "TMP")), "2");
  EXPECT_TRUE(Shown().empty());

  // A value without a key (null or empty) is refused: the core library
  // would take it for the removal of the whole section.
  WriteSettings("[Keep]\nA=1\nB=2\n");
  const std::string kept = FileText();
  for (const char *key : {static_cast<const char *>(nullptr), ""}) {
    char value[] = "x";
    Shown().clear();
    EXPECT_FALSE(SetParam("Keep", key, value));
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_NE(Shown()[0].find("a value cannot be stored without a key"), std::string::npos)
        << Shown()[0];
    EXPECT_EQ(FileText(), kept);
    EXPECT_EQ(Or(GetParamString("Keep", "B")), "2");
  }
  Shown().clear();

  // Removing a section that is not there changes nothing and is no
  // failure to report.
  const std::string before = FileText();
  EXPECT_FALSE(SetParam("NOSUCH", nullptr, nullptr));
  EXPECT_TRUE(Shown().empty()) << Shown()[0];
  EXPECT_EQ(FileText(), before);
}

TEST_F(SettingsTest, SetParamRefusesLinesThatWouldNotReadBack) {
  // 255 characters with the key and "=" still read back whole.
  std::string value(255 - std::strlen("KEY="), 'v');
  EXPECT_TRUE(SetParam("Long", "KEY", value.data()));
  SettingsReload();
  EXPECT_EQ(Or(GetParamString("Long", "KEY")), value);
  const std::string before = FileText();
  value += "v";
  EXPECT_FALSE(SetParam("Long", "KEY2", value.data()));
  char plain[] = "x";
  EXPECT_FALSE(SetParam("Sec", "A=B", plain));
  EXPECT_FALSE(SetParam("Se]c", "A", plain));
  EXPECT_FALSE(SetParam(nullptr, "A", plain));
  // The core library ends a line at a carriage return, at the end of a
  // value or inside it.
  char carriageReturn[] = "dos\r";
  EXPECT_FALSE(SetParam("Sec", "CR", carriageReturn));
  char inside[] = "a\rb";
  EXPECT_FALSE(SetParam("Sec", "CR", inside));
  ASSERT_EQ(Shown().size(), 6u);
  EXPECT_NE(Shown()[0].find("longer than 255 characters"), std::string::npos) << Shown()[0];
  EXPECT_NE(Shown()[4].find("may not hold a carriage return"), std::string::npos) << Shown()[4];
  EXPECT_EQ(FileText(), before);
  EXPECT_EQ(GetParamString("Long", "KEY2"), nullptr);
}

TEST_F(SettingsTest, SetParamRefusesKeysThatWouldReadBackAsSomethingElse) {
  // "[K=x" would open a section that takes the keys after it, ";K=x" would
  // be a comment, and " K " would read back as K.
  WriteSettings("[S]\nA=1\n");
  const std::string before = FileText();
  for (const char *key : {"[K", ";K", " K", "K\t"}) {
    char value[] = "x";
    Shown().clear();
    EXPECT_FALSE(SetParam("S", key, value)) << key;
    ASSERT_EQ(Shown().size(), 1u) << key;
    EXPECT_NE(Shown()[0].find("a key may not begin with"), std::string::npos) << Shown()[0];
    EXPECT_EQ(FileText(), before) << key;
  }
  // Such characters inside a key are fine.
  char value[] = "x";
  EXPECT_TRUE(SetParam("S", "K[;] K", value));
  SettingsReload();
  EXPECT_EQ(Or(GetParamString("S", "K[;] K")), "x");
  EXPECT_EQ(Or(GetParamString("S", "A")), "1");
}

TEST_F(SettingsTest, StdioRewriteAndReloadIsNotUndoneByTheNextWrite) {
  WriteSettings("[Old]\nA=old\n[Paths]\nKERNEL=/old/\n");
  ASSERT_EQ(Or(GetParamString("Old", "A")), "old");
  char first[] = "1";
  ASSERT_TRUE(SetParam("Old", "B", first));

  // Rewritten behind the core library's back, as the settings template is.
  WriteSettings("[Paths]\nKERNEL=/new/\n");
  EXPECT_EQ(Or(GetParamString("Paths", "KERNEL")), "/new/");
  char second[] = "2";
  ASSERT_TRUE(SetParam("Fresh", "C", second));
  const std::string text = FileText();
  EXPECT_EQ(text.find("old"), std::string::npos) << text;
  EXPECT_EQ(text.find("/old/"), std::string::npos) << text;
  EXPECT_NE(text.find("KERNEL=/new/"), std::string::npos) << text;
  EXPECT_NE(text.find("C=2"), std::string::npos) << text;
}

TEST_F(SettingsTest, SetParamReportsAFileThatCouldNotBeWritten) {
  ASSERT_EQ(Or(GetParamString("Paths", "KERNEL")), "/opt/velorix/");
  // A file size limit makes the core library's rewrite fail part way even
  // for root, who may write any file whatever its permissions.
  char value[] = "a value that does not fit in sixteen bytes";
  Nlm_Boolean stored = TRUE;
  ASSERT_TRUE(WithFileSizeLimit(16, [&] { stored = SetParam("Paths", "KERNEL2", value); }));
  EXPECT_FALSE(stored);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].rfind("Settings file '.velorixrc' could not be written:", 0), 0u)
      << Shown()[0];
  // Reads now follow the file, not a value that never reached it.
  Shown().clear();
  EXPECT_EQ(GetParamString("Paths", "KERNEL2"), nullptr);
}

TEST_F(SettingsTest, SetParamRefusesAReadOnlySettingsFile) {
  ASSERT_EQ(Or(GetParamString("Paths", "KERNEL")), "/opt/velorix/");
  const std::string before = FileText();
  ASSERT_EQ(chmod(".velorixrc", 0444), 0);
  // Returns a bit for each check that failed.
  const auto refused = [&before]() {
    int failed = 0;
    char value[] = "changed";
    Shown().clear();
    if (SetParam("Paths", "KERNEL", value)) failed |= 1;
    if (Shown().size() != 1 ||
        Shown()[0].rfind("Settings file '.velorixrc' could not be written:", 0) != 0)
      failed |= 2;
    if (Or(GetParamString("Paths", "KERNEL")) != "/opt/velorix/") failed |= 4;
    if (FileText() != before) failed |= 8;
    return failed;
  };
  if (geteuid() != 0) {
    EXPECT_EQ(refused(), 0);
    return;
  }
  // Root may write any file: try it as an unprivileged user in a child,
  // which needs only to search the directory it starts in.
  ASSERT_EQ(chmod(".", 0755), 0);
  constexpr uid_t kNobody = 65534;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(64);
    _exit(refused());
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "bits of the failed checks (64: could not drop privileges)";
}

// [A] K, then a [B] section long enough for a limit of 512 bytes to cut a
// rewrite well after [A] and well before its end.
std::string KeyBeforeALongSection() {
  std::string text = "[A]\nK=old\n[B]\n";
  for (int i = 0; i < 60; ++i)
    text += "KEY" + std::to_string(i) + "=a value of the B section\n";
  return text;
}

// A rewrite that a full disk cuts short after the stored key still holds
// the key as stored: it lacks what came after it, and SetParam says so.
TEST_F(SettingsTest, SetParamTellsARewriteCutShortAfterTheKey) {
  WriteSettings(KeyBeforeALongSection());
  ASSERT_EQ(Or(GetParamString("A", "K")), "old");
  char value[] = "new";
  Nlm_Boolean stored = TRUE;
  // Past [A] K, well before the end of [B].
  ASSERT_TRUE(WithFileSizeLimit(512, [&] { stored = SetParam("A", "K", value); }));
  EXPECT_NE(FileText().find("K=new\n"), std::string::npos);  // the key made it
  EXPECT_FALSE(stored);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].rfind("Settings file '.velorixrc' could not be written:", 0), 0u)
      << Shown()[0];
}

// Values stored together reach the file with one rewrite, when the batch
// ends, and are verified there as single stores are.
TEST_F(SettingsTest, StoresOfABatchAreWrittenOnceAndVerifiedAtItsEnd) {
  WriteSettings("[A]\nK=old\n");
  const std::string before = FileText();
  SettingsBatchBegin();
  char one[] = "new";
  char two[] = "1";
  char three[] = "2";
  char again[] = "3";
  EXPECT_TRUE(SetParam("A", "K", one));
  EXPECT_TRUE(SetParam("B", "X", two));
  EXPECT_TRUE(SetParam("b", "Y", three));
  EXPECT_TRUE(SetParam("B", "x", again));  // the later value of a key counts
  // Read from memory while the file is as it was.
  EXPECT_EQ(Or(GetParamString("B", "X")), "3");
  EXPECT_EQ(FileText(), before);
  EXPECT_TRUE(SettingsBatchEnd());
  EXPECT_EQ(FileText(), "[A]\nK=new\n\n[B]\nX=3\nY=2\n\n");
  EXPECT_TRUE(Shown().empty());
  // After the batch, each store is written at once again.
  char four[] = "4";
  EXPECT_TRUE(SetParam("C", "Z", four));
  EXPECT_NE(FileText().find("Z=4"), std::string::npos);

  // A removal inside a batch writes what is pending first.
  SettingsBatchBegin();
  char five[] = "5";
  EXPECT_TRUE(SetParam("C", "W", five));
  EXPECT_TRUE(SetParam("B", nullptr, nullptr));
  const std::string removed = FileText();
  EXPECT_NE(removed.find("W=5"), std::string::npos) << removed;
  EXPECT_EQ(removed.find("[B]"), std::string::npos) << removed;
  EXPECT_TRUE(SettingsBatchEnd());
  EXPECT_EQ(FileText(), removed);
}

TEST_F(SettingsTest, ABatchThatCouldNotBeWrittenIsReportedAtItsEnd) {
  WriteSettings(KeyBeforeALongSection());
  ASSERT_EQ(Or(GetParamString("A", "K")), "old");
  Nlm_Boolean written = TRUE;
  // Cut past [A] K, well before the end of [B]: the keys made it, the rest
  // of the file did not.
  ASSERT_TRUE(WithFileSizeLimit(512, [&] {
    SettingsBatchBegin();
    char value[] = "new";
    char other[] = "x";
    EXPECT_TRUE(SetParam("A", "K", value));
    EXPECT_TRUE(SetParam("A", "L", other));
    EXPECT_TRUE(Shown().empty());
    written = SettingsBatchEnd();
  }));
  EXPECT_FALSE(written);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].rfind("Settings file '.velorixrc' could not be written:", 0), 0u)
      << Shown()[0];
  // Reads follow the file again, and stores write at once.
  Shown().clear();
  char later[] = "later";
  EXPECT_TRUE(SetParam("C", "Z", later));
  EXPECT_NE(FileText().find("Z=later"), std::string::npos);
}

// Files that the core library would read wrongly, or never finish reading,
// are left as they are, with a message saying why, and in bounded time.
TEST_F(SettingsTest, SetParamLeavesFilesItWouldDamage) {
  struct Case {
    std::string text;
    const char *why;
  };
  const Case cases[] = {
      {"\xEF\xBB\xBF[Paths]\nKERNEL=/opt/velorix/\n", "begins with a byte-order mark"},
      {std::string("[Paths]\nKERNEL=/opt/velorix/\n[Mine]\nA=1\0B=2\n", 42), "holds a NUL byte"},
  };
  for (const Case &c : cases) {
    vxtest::WriteFile(".velorixrc", c.text);  // byte for byte, the NUL too
    SettingsReload();
    Shown().clear();
    char value[] = "/new/";
    EXPECT_FALSE(SetParam("Paths", "KERNEL", value)) << c.why;
    ASSERT_EQ(Shown().size(), 1u) << c.why;
    EXPECT_NE(Shown()[0].find(c.why), std::string::npos) << Shown()[0];
    EXPECT_EQ(FileText(), c.text) << c.why;
  }
  // A link to a device that never ends: refused before anything reads it.
  std::filesystem::remove(".velorixrc");
  std::filesystem::create_symlink("/dev/zero", ".velorixrc");
  SettingsReload();
  Shown().clear();
  char value[] = "/new/";
  EXPECT_FALSE(SetParam("Paths", "KERNEL", value));
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_NE(Shown()[0].find("is not a regular file"), std::string::npos) << Shown()[0];
  std::filesystem::remove(".velorixrc");
}

// ---- the wording of the reports ----

// Every report about a key of the settings file starts by naming the
// file, the section and the key, each name cut to 100 characters; the
// rest of each report is pinned here too, so that users (and the
// translations of the template) keep seeing the same texts.
TEST_F(SettingsTest, ReportsNameTheFileSectionAndKeyInOneWording) {
  const std::string hundred(100, 'x');
  WriteSettings(
      "[S]\nSELF=x$(S.SELF)\nFORMAT=velo%04x\n[L]\nH=" + hundred +
      "\n[Compiler]\nHEADERF=velorix.h\n[KernelErrors]\n_Open=cannot open file '%s'\n[D]\n" + [] {
        // Each value refers twice to the next: 2^20 splices of nothing.
        std::string twice;
        for (int i = 0; i < 20; ++i)
          twice += "F" + std::to_string(i) + "=$(D.F" + std::to_string(i + 1) + ")$(D.F" +
                   std::to_string(i + 1) + ")\n";
        return twice + "F20=`\n";
      }());
  const std::string prefix = "Settings file 'velorix', section ";
  std::vector<std::string> expected;

  EXPECT_EQ(GetParam("S", "NOPE"), nullptr);
  expected.push_back(prefix + "'S', key 'NOPE': not found");
  EXPECT_EQ(GetParamArgs(nullptr, "K", nullptr, 0), nullptr);
  expected.push_back(prefix + "'(none)', key 'K': not found");
  const std::string longName(150, 'n');
  EXPECT_EQ(GetParamString(longName.c_str(), longName.c_str()), nullptr);
  expected.push_back(prefix + "'" + std::string(100, 'n') + "', key '" + std::string(100, 'n') +
                     "': not found");

  const std::string longValue(600, 'v');
  ASSERT_TRUE(Nlm_SetAppParam("velorix", "L", "LONG", longValue.c_str()));
  EXPECT_EQ(GetParam("L", "LONG"), nullptr);
  expected.push_back(prefix + "'L', key 'LONG':\nthe value is longer than 499 characters.");

  EXPECT_EQ(GetParamString("S", "SELF"), nullptr);
  expected.push_back(prefix +
                     "'S', key 'SELF':\nthe reference $(S.SELF) refers back to itself, directly "
                     "or through other keys.");
  EXPECT_EQ(GetParamString("D", "F0"), nullptr);
  expected.push_back(prefix +
                     "'D', key 'F0':\nthe reference $(D.F19) is expanded too many times: the "
                     "values it leads to refer to the same keys over and over.");

  char small[40] = "<$(L.H)>";
  EXPECT_FALSE(TranslateSized(small, sizeof small, "L", "SMALL"));
  expected.push_back(prefix + "'L', key 'SMALL':\nthe text would be longer than 39 characters once "
                              "$(L.H) is expanded.");
  char unterminated[4] = {'a', 'b', 'c', 'd'};
  EXPECT_FALSE(TranslateSized(unterminated, sizeof unterminated, nullptr, nullptr));
  expected.push_back(prefix +
                     "'(not a settings value)', key '(none)':\nthe text to expand does not fit "
                     "its buffer.");

  EXPECT_EQ(GetParam("S", "FORMAT"), nullptr);
  expected.push_back(prefix +
                     "'S', key 'FORMAT':\nthe value cannot be used: \"%04x\" is directive 1, but "
                     "only 0 arguments are given.");
  std::memset(ParBuf, 'p', VX_PARBUF_SIZE - 5);
  ParBuf[VX_PARBUF_SIZE - 5] = '\0';
  EXPECT_EQ(GetParamAppend("Compiler", "HEADERF"), nullptr);
  expected.push_back(prefix + "'Compiler', key 'HEADERF':\nthe value does not fit after the 495 "
                              "characters already in the buffer (499 at most).");
  EXPECT_TRUE(Warning("_Open"));
  expected.push_back(prefix +
                     "'KernelErrors', key '_Open':\nthe message cannot be shown: \"%s\" is "
                     "directive 1, but only 0 arguments are given.");

  char value[] = "x";
  EXPECT_FALSE(SetParam(nullptr, "A", value));
  expected.push_back("Settings file 'velorix': a value cannot be stored without a section name.");
  EXPECT_FALSE(SetParam("Sec", nullptr, value));
  expected.push_back(prefix +
                     "'Sec': a value cannot be stored without a key; the section was left as it "
                     "is.");
  EXPECT_FALSE(SetParam("Sec", "A=B", value));
  expected.push_back(prefix +
                     "'Sec', key 'A=B':\na section name may not hold \"]\" and a key may not "
                     "hold \"=\".");
  EXPECT_FALSE(SetParam("Sec", ";K", value));
  expected.push_back(prefix +
                     "'Sec', key ';K':\na key may not begin with \"[\" or \";\" nor begin or end "
                     "with a blank.");
  char carriageReturn[] = "a\rb";
  EXPECT_FALSE(SetParam("Sec", "CR", carriageReturn));
  expected.push_back(prefix +
                     "'Sec', key 'CR':\na value may not hold a carriage return, which would not "
                     "read back; it was not stored.");
  std::string overlong(300, 'o');
  EXPECT_FALSE(SetParam("Sec", "LINE", overlong.data()));
  expected.push_back(prefix +
                     "'Sec', key 'LINE':\nthe line would be longer than 255 characters and would "
                     "not read back whole; it was not stored.");

  ASSERT_EQ(Shown().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(Shown()[i], expected[i]) << "report " << i;
}

}  // namespace
