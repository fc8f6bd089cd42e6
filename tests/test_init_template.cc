/*
 * test_init_template.cc - the interface-strings template init, written to a
 * file and read back both as raw lines and through the description-file
 * reader, as the analysis program reads it.
 *
 * The expected lines are typed here apart from the template, so that a slip
 * in either shows up as a mismatch.  For the sections whose texts are free
 * wording only the keys, their order and the fixed lines are checked.
 */
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "settings_fixture.h"
#include "templates.h"
#include "utility.h"

namespace {

using Lines = std::vector<std::string>;

struct Section {
  const char *name;
  size_t count;
};

// clang-format off
const std::vector<Section> kSections = {
    {"&archive", 1},  {"&curve", 52},  {"&datalib", 23},  {"&diagram", 14},
    {"&dialog", 25},  {"&function", 34}, {"&mainwnd", 58}, {"&param", 5},
    {"&point", 9},    {"&visual", 4},  {"&userfunc", 13}, {"&markers", 27},
    {"&psfonts", 12},
};
// clang-format on

const std::string kListLine = "LIST=38 20 ! listwidth listheight ! don't increase 38 - VGA!";
const std::string kEditWindowLine =
    "EDITWINDOW=38 20 ! textwidth textheight ! don't increase 38 - VGA!";

// Sections given line for line.
// clang-format off
const std::map<std::string, Lines> kFullSections = {
    {"&archive", {"SELARCH_C=Waiting for Archives selection"}},
    {"&datalib",
     {kListLine, "RENAME_T=New name:", "GROUP_T=Name of group:", "CREATE_T=Name:",
      "DELETE_T=Do you wish to delete~'%s'?", "DELETEGF_T=Cannot delete - the group is not empty",
      "DELETEALL_T=Do you wish to delete all items at the current level?", "SELECT_B=Select",
      "DESELECT_B=Deselect", "ESCAPE_B=\"   Up   \"", "CANCEL_B=Cancel", "HELP_B=Help",
      "SEPARATOR_I=-", "FUNCTION_M=Actions{", "RENAME_I=Rename...", "GROUP_I=Group...",
      "EDIT_I=Edit...", "CREATE_I=New...", "DELETE_I=Delete...", "DELETEALL_I=Delete all...",
      "IMPORT_I=Import...", "EXPORT_I=Export...", "DUMMYEND_I=}"}},
    {"&diagram",
     {"SELDIAG_C=Waiting for Diagram selection", "REDRAW_C=Redrawing...",
      "EXPORT_C=Waiting for Export parameters", "IMPORT_C=Waiting for Import parameters",
      "EXPORTING_C=Exporting diagram", "IMPORTING_C=Importing diagram", "SEL_T=Diagram",
      "EXPORT_T=Export to file", "IMPORT_T=Import from file", "EXPORTOF_B=Browse",
      "IMPORTOF_B=Browse", "EXPORTC_T=Export curves", "EXPORTCI_B=initial points only",
      "EXPORTCF_B=everything"}},
    {"&dialog",
     {"OK_B=\"   Ok   \"", "CANCEL_B=Cancel", "HELP_B=Help", "YES_B=\"   Yes   \"",
      "NO_B=\"   No   \"", "FIND_T=Text to find", "REPLACE_T=New text", "SELALL_B=Select all",
      "DESELALL_B=Deselect all", "REVSEL_B=Reverse selection", "SEPARATOR_I=-", "EDIT_M=Edit{",
      "COPY_I=Copy", "CUT_I=Cut", "PASTE_I=Paste", "CLEAR_I=Clear", "READ_I=Read from file...",
      "WRITE_I=Write to file...}", "SEARCH_M=Search{", "FIND_I=Find...",
      "FINDNEXT_I=Search again", "REPLACE_I=Replace...}", "EDIT_M=Help{",
      "EDITHELP_I=Editor commands}", "LSTDIM=(10,12) ! (ListLines,LineLen)"}},
    {"&function",
     {kEditWindowLine, "SELSYST_C=Waiting for System selection", "CONTEXT_C=Compiling RHS...",
      "EDIT_C=Editing system specification", "EXPORT_C=Waiting for Export parameters",
      "IMPORT_C=Waiting for Import parameters", "EXPORTING_C=Exporting system",
      "IMPORTING_C=Importing system", "ERROR_T=Error messages", "DERI_T=Compute derivatives",
      "DERIN_T=- numerically", "DERIS_T=- symbolically", "DERIU_T=- by a routine",
      "DERI1_T=1st order", "DERI2_T=2nd order", "DERI3_T=3rd order", "DERI4_T=4th order",
      "DERI5_T=5th order", "FUNC_M=Specify", "FUNCH_I=RHS only", "FUNCV_I=Local functions",
      "SEL_T=System", "NAME1=First character of a name is not a letter~",
      "NAMEDIM=Dimension must be a constant>1 enclosed in brackets, e.g. x[10]~",
      "PHASE=Specify at least one phase variable~", "COMPNUM=The number of names must be %s %i~",
      "EXPORT_T=Export to file", "IMPORT_T=Import from file", "EXPORTOF_B=Browse",
      "IMPORTOF_B=Browse", "EXPORTD_T=Export diagrams", "EXPORTDN_B=don't export",
      "EXPORTDI_B=initial points only", "EXPORTDF_B=everything"}},
    {"&param",
     {kEditWindowLine, "CONTEXT_C=Compiling functional parameters...",
      "EDIT_C=Editing functional parameter...", "EDIT_T=Edit...", "METHOD_I=Method"}},
    {"&point",
     {"OPT_C=Waiting for attributes changing", "POINT_I=Special points",
      "TYPE_P=Set options for points of type", "LABEL_B=Label", "MARKER_B=Marker",
      "SETCOLOR_B=Set color", "DEFCOLOR_B=Default color", "SAMPLE_T=Sample",
      "SCALE_T=Scale factor"}},
    {"&visual",
     {"CONTEXT_C=Compiling window functions...", "HIDDEN_C=Waiting for selection of window",
      "LIST_P=List of names", "SHW_T=Select window to show"}},
    {"&userfunc",
     {"WINTITLE=User functions", "ADD_B=Add", "DELETE_B=Delete", "RENAME_B=Rename",
      "DISABLE_B=Disable", "ENABLE_B=Enable", "LIST=15 10",
      "EDITOR=38 15 ! textwidth textheight ! don't increase 38 - VGA!", "LABEL=Label",
      "TITLE=Name", "CONTEXT_C=Compiling user-defined functions...",
      "USERFUNC_C=Defining user functions...", "ERROR_T=Error messages"}},
    {"&markers",
     {"C4", "c4", "c4p2l0u4l0d8p2l4u0r8u0", "c4p2l3u3r6d6p2l3d3r6u6", "s4",
      "s4p4l4u4r8d8l0u8l8d8", "s4p2l4u0r8d0p2l0u4l0d8", "s4p4l0u3l3d3r3d3r3u3", "S4",
      "p4l0u4l4d4r4d4r4u4", "p8l4u0r4u4l0d8l4u4r8u0l4u4l0d8r4u4", "P4l0u4l4d4r4d4r4u4",
      "p5l0u4l3d8r7u4l8u0r7d4", "P5l0u4l3d8r7u4l8u0r7d4",
      "p2l0u4l0d8p2l4u0r8u0p2l3u3r6d6p2l3d3r6u6", "p3l0u4l4d8r8u0", "P3l0u4l4d8r8u0",
      "p3l0d4l4u8r8u0", "P3l0d4l4u8r8u0", "p3l4u0r8d4l0u8", "P3l4u0r8d4l0u8", "p3r4u0l8d4l0u8",
      "P3r4u0l8d4l0u8", "p4l4u4r8u0l8d8r8u0", "P4l4u4r8u0l8d8r8u0", "p4l4u4l0d8r8u8l0d8",
      "P4l4u4l0d8r8u8l0d8"}},
    {"&psfonts",
     {"Times-Roman", "Times-Italic", "Times-Bold", "Times-BoldItalic", "Helvetica",
      "Helvetica-Oblique", "Helvetica-Bold", "Helvetica-BoldOblique", "Courier",
      "Courier-Oblique", "Courier-Bold", "Courier-BoldOblique"}},
};
// clang-format on

// Sections given by key, with their fixed lines by number (from 1).
struct KeyedSection {
  Lines keys;
  std::map<size_t, std::string> fixed;
};

// clang-format off
const std::map<std::string, KeyedSection> kKeyedSections = {
    {"&curve",
     {{"ARCH_W",      "IPOINT_W",    "PAUSE_W",     "SELCURV_C",   "REDRAW_C",    "STA_C",
       "SUS_C",       "LOAD_C",      "SELINIT_C",   "FILTER_C",    "PAUSEOPT_C",  "EXPORTING_C",
       "IMPORTING_C", "EXPORT_C",    "CUR_T",       "SUSPEND_B",   "RESUME_B",    "ABORT_B",
       "TAKE_B",      "OPTARCHMU_P", "OPTARCHGF_T", "OPTARCHMF_T", "OPTARCHCF_T", "OPTARCHFR_P",
       "OPTARCHTO_P", "OPTARCHST_P", "PAUSE_T",     "PAUSES_B",    "PAUSEE_B",    "PAUSEN_B",
       "PAUSEKEY_T",  "MOUSE_B",     "LIST",        "REDRAW_M",    "REDRAWALL_I", "REDRAWHI_I",
       "REDRAWCL_I",  "SEPARATOR_I", "EXPORT_T",    "EXPORTOF_B",  "EXPORTPT_T",  "EXPORTPTS_B",
       "EXPORTCO_T",  "EXPORTCO_B",  "EXPORTFO_P",  "EXPORTSN_T",  "LISTN",       "EXPORTAN_T",
       "EXPORTDN_T",  "EXPORTPT_I",  "EXPORTFO_B",  "EXPORTFA_B"},
      {{33, kListLine},
       {34, "REDRAW_M=Curves{"},
       {35, "REDRAWALL_I=Redraw diagram"},
       {36, "REDRAWHI_I=Redraw curve"},
       {37, "REDRAWCL_I=Clear}"},
       {38, "SEPARATOR_I=-"},
       {47, "LISTN=(10,12)"},
       {50, "EXPORTPT_I=<Point type>"}}}},
    {"&mainwnd",
     {{"MAIN_C",       "INIT_C",      "MAINOPT_C",    "CURSYS",      "DUMMYEND_I",
       "SEPARATOR_I",  "SYSTEMS_M",   "CLASS_M",      "ARCHIVES_I",  "FUNCTIONS_I",
       "DIAGRAM_I",    "CURVE_I",     "IPOINT_I",     "USERTEST_I",  "EXIT_I",
       "WINDOWS_M",    "CREATEG_I",   "CREATET_I",    "CREATEC_I",   "REDRAW_I",
       "REDRAWC_I",    "CLEARALL_I",  "SHOWHIDDEN_I", "TYPE_M",      "COMPUTE_M",
       "FORWARD_I",    "BACKWARD_I",  "CONTINUE_I",   "OPTIONS_M",   "SYSFONT_I",
       "PRGFONT_I",    "MAINWIN_I",   "ARCH_I",       "PAUSE_I",     "POINT_I",
       "CLASS_T",      "ARCHNAME_T",  "CURSYS_T",     "DIAGRAM_T",   "CURVE_T",
       "INITTYPE_T",   "CURVETYPE_T", "DERIVATIVES_T", "STATUS_T",   "DURATION_T",
       "MESSAGE_T",    "OPTWIN_W",    "OPTWIN_T",     "HELP_M",      "THISWIN_I",
       "INDEX_I",      "SEARCH_I",    "HELPPT_I",     "HELPCT_I",    "HELPST_I",
       "HELPGE_I",     "HELPAB_I",    "CREATE_M"},
      {{4, "CURSYS=30"},
       {5, "DUMMYEND_I=}"},
       {6, "SEPARATOR_I=-"},
       {7, "SYSTEMS_M=Select{"},
       {8, "CLASS_M=Class{"},
       {9, "ARCHIVES_I=Archive..."},
       {10, "FUNCTIONS_I=System..."},
       {11, "DIAGRAM_I=Diagram..."},
       {12, "CURVE_I=Curve..."},
       {13, "IPOINT_I=Initial point..."},
       {14, "USERTEST_I=User functions..."},
       {15, "EXIT_I=Exit"},
       {16, "WINDOWS_M=Window{"},
       {17, "CREATEG_I=Open graphics"},
       {18, "CREATET_I=Open text"},
       {19, "CREATEC_I=Open values"},
       {20, "REDRAW_I=Redraw diagram"},
       {21, "REDRAWC_I=Redraw curve"},
       {22, "CLEARALL_I=Clear all"},
       {23, "SHOWHIDDEN_I=Show hidden..."},
       {24, "TYPE_M=Type{"},
       {25, "COMPUTE_M=Compute{"},
       {26, "FORWARD_I=Forward"},
       {27, "BACKWARD_I=Backward"},
       {28, "CONTINUE_I=Extend"},
       {29, "OPTIONS_M=Options{"},
       {30, "SYSFONT_I=System font..."},
       {31, "PRGFONT_I=Text font..."},
       {32, "MAINWIN_I=Main window..."},
       {33, "ARCH_I=Archive filter..."},
       {34, "PAUSE_I=Pause mode..."},
       {35, "POINT_I=Special points..."},
       {49, "HELP_M=Help{"},
       {50, "THISWIN_I=Main window"},
       {51, "INDEX_I=Index"},
       {52, "SEARCH_I=Search"},
       {53, "HELPPT_I=Point type"},
       {54, "HELPCT_I=Curve type"},
       {55, "HELPST_I=Starter"},
       {56, "HELPGE_I=Generator"},
       {57, "HELPAB_I=About VELORIX"},
       {58, "CREATE_M=Open{"}}}},
};
// clang-format on

std::string gFile;  // the written interface-strings file
Lines gRaw;         // its physical lines, line feeds removed
bool gAllEndInLineFeed = true;

class InitEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(directory_.Make("initXXXXXX", true));
    const std::string cwd = directory_.path().string();
    // The reader expands lines through the settings: a file must be here.
    FILE *rc = std::fopen(".velorixrc", "w");
    ASSERT_NE(rc, nullptr);
    std::fputs("[Paths]\nKERNEL=", rc);
    std::fputs(cwd.c_str(), rc);
    std::fputs("/\n", rc);
    std::fclose(rc);

    // Written as the installation writes it: each line and a line feed.
    gFile = cwd + "/init.vpf";
    FILE *f = std::fopen(gFile.c_str(), "w");
    ASSERT_NE(f, nullptr);
    for (const char *const *line = init; *line != nullptr; ++line) {
      std::fputs(*line, f);
      std::fputc('\n', f);
    }
    std::fclose(f);

    f = std::fopen(gFile.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::string line;
    for (int c; (c = std::fgetc(f)) != EOF;) {
      if (c == '\n') {
        gRaw.push_back(line);
        line.clear();
      } else {
        line += static_cast<char>(c);
      }
    }
    if (!line.empty()) {
      gAllEndInLineFeed = false;
      gRaw.push_back(line);
    }
    std::fclose(f);
  }

  void TearDown() override {
    DescClose();
    directory_.Remove();
  }

 private:
  vxtest::ScratchDirectory directory_;
};

[[maybe_unused]] const auto *const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new InitEnvironment);

// The raw lines of section name, without its section line.
Lines rawSection(const std::string &name) {
  Lines lines;
  bool inside = false;
  for (const std::string &line : gRaw) {
    if (!line.empty() && line[0] == '&') {
      if (inside) {
        break;
      }
      inside = line == name;
      continue;
    }
    if (inside) {
      lines.push_back(line);
    }
  }
  return lines;
}

std::string keyOf(const std::string &line) { return line.substr(0, line.find('=')); }

TEST(InitTemplate, TableHasItsLinesAndEndsWithNull) {
  for (size_t i = 0; i < kInitLines; ++i) {
    ASSERT_NE(init[i], nullptr) << "line " << i + 1;
  }
  EXPECT_EQ(init[kInitLines], nullptr);
}

TEST(InitTemplate, FileHasAllLinesInOrder) {
  EXPECT_TRUE(gAllEndInLineFeed);
  ASSERT_EQ(gRaw.size(), 290u);
  EXPECT_EQ(gRaw.front(), "&archive");
  EXPECT_EQ(gRaw.back(), "Courier-BoldOblique");
  Lines sectionLines;
  for (const std::string &line : gRaw) {
    if (line[0] == '&') {
      sectionLines.push_back(line);
    }
  }
  Lines expected;
  for (const Section &s : kSections) {
    expected.emplace_back(s.name);
    EXPECT_EQ(rawSection(s.name).size(), s.count) << s.name;
  }
  EXPECT_EQ(sectionLines, expected);
}

TEST(InitTemplate, LinesGivenInFull) {
  for (const auto &[name, lines] : kFullSections) {
    EXPECT_EQ(rawSection(name), lines) << name;
  }
}

TEST(InitTemplate, SectionsGivenByKey) {
  for (const auto &[name, section] : kKeyedSections) {
    const Lines lines = rawSection(name);
    ASSERT_EQ(lines.size(), section.keys.size()) << name;
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string &line = lines[i];
      EXPECT_EQ(keyOf(line), section.keys[i]) << name << " line " << i + 1;
      const auto fixed = section.fixed.find(i + 1);
      if (fixed != section.fixed.end()) {
        EXPECT_EQ(line, fixed->second) << name << " line " << i + 1;
        continue;
      }
      // A worded text: not empty, and only menu titles carry braces.
      const std::string value = line.substr(line.find('=') + 1);
      EXPECT_FALSE(value.empty()) << line;
      const char kind = section.keys[i].back();
      if (kind == 'M') {
        EXPECT_EQ(value.back(), '{') << line;
      } else {
        EXPECT_EQ(value.find_first_of("{}~!"), std::string::npos) << line;
      }
    }
  }
}

class InitReadBack : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(DescOpen(gFile.c_str())); }
  void TearDown() override { DescClose(); }
};

TEST_F(InitReadBack, SectionsCountThroughTheReader) {
  Nlm_Int2 total = 0;
  for (const Section &s : kSections) {
    DescRewind();
    ASSERT_NE(FindLine(s.name), -1) << s.name;
    const Nlm_Int2 count = CountLines();
    EXPECT_EQ(count, static_cast<Nlm_Int2>(s.count)) << s.name;
    total = static_cast<Nlm_Int2>(total + count + 1);
  }
  EXPECT_EQ(total, 290);
}

TEST_F(InitReadBack, LastSectionsAfterOneAnother) {
  // Searching on from where the previous count left the reader.
  ASSERT_NE(FindLine("&userfunc"), -1);
  EXPECT_EQ(CountLines(), 13);
  ASSERT_NE(FindLine("&markers"), -1);
  EXPECT_EQ(CountLines(), 27);
  ASSERT_NE(FindLine("&psfonts"), -1);
  EXPECT_EQ(CountLines(), 12);
  char buf[VX_LINE_SIZE];
  ASSERT_NE(GetLine(buf), nullptr);
  EXPECT_STREQ(buf, "Times-Roman");
}

TEST_F(InitReadBack, ReaderDropsCommentsAndBreaksLines) {
  char buf[VX_LINE_SIZE];
  ASSERT_NE(FindLine("&userfunc"), -1);
  Lines lines;
  while (GetLine(buf) != nullptr && buf[0] != '&') {
    lines.emplace_back(buf);
  }
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[6], "LIST=15 10");
  EXPECT_EQ(lines[7], "EDITOR=38 15");

  DescRewind();
  ASSERT_NE(FindLine("&datalib"), -1);
  ASSERT_NE(GetLine(buf), nullptr);
  EXPECT_STREQ(buf, "LIST=38 20");
  while (GetLine(buf) != nullptr && std::strncmp(buf, "DELETE_T=", 9) != 0) {
  }
  EXPECT_STREQ(buf, "DELETE_T=Do you wish to delete\n'%s'?");
  while (GetLine(buf) != nullptr && std::strncmp(buf, "ESCAPE_B=", 9) != 0) {
  }
  EXPECT_STREQ(buf, "ESCAPE_B=\"   Up   \"");
}

TEST_F(InitReadBack, EveryLineIsDeliveredOnce) {
  char buf[VX_LINE_SIZE];
  int count = 0;
  while (GetLine(buf) != nullptr) {
    ++count;
  }
  EXPECT_EQ(count, 290);
  EXPECT_TRUE(DescEof());
}

}  // namespace
