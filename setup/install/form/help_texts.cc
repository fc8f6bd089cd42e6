/*
 * help_texts.cc - the texts of the field help windows, one per Help item.
 *
 * Each line feed starts a new line of the help window; an empty line shows
 * as a blank line.  The texts are shown as they are, never used as a
 * printf format (the differentiator text holds a "%s" of its own).
 */
#include "form_tables.h"

const char *const kDirectoryHelp =
    "Velorix directory input field specifies the directory that contains\n"
    "all Velorix executable and auxiliary files.\n"
    "\n"
    "For Full installation Velorix sets it to the current directory by default.\n"
    "\n"
    "For User installation you have to type in the full path to Velorix directory.";

const char *const kCCompilerHelp =
    "The C compiler Include input field specifies compiler's options\n"
    "for directories that contain include files.\n"
    "If the field is blank, only standard (default) and the current\n"
    "directories will be searched.\n"
    "\n"
    "The C compiler Libraries input field specifies compiler's options\n"
    "used to access run-time libraries.\n"
    "\n"
    "Specifing the options you should follow notation for your host\n"
    "operating system and compiler.\n"
    "\n"
    "The options are put into the script/batch file named CompRhs.\n"
    "Velorix runs the file to compile specification of your dynamical\n"
    "systems.\n"
    "\n"
    "Usually you don't need to change these fields.";

const char *const kCppCompilerHelp =
    "The C++ compiler Name input field specifies the name of C++ compiler.\n"
    "\n"
    "The C++ compiler Options input field specifies options for\n"
    "the C++ compiler.\n"
    "\n"
    "The name and the options are put into the script/batch file\n"
    "named CompRhs. The compiler is called only when you request the\n"
    "'symbolical' method of calculation of derivatives. You choose the\n"
    "method when you specify your dynamical system.\n"
    "\n"
    "If there is no C++ compiler available, leave these fields unchanged.\n"
    "In such a case Velorix disables the 'symbolical differentiation' feature.";

const char *const kPrinterHelp = "The Printer command input field specifies the command\n"
                                 "used by Velorix to print hardcopy files.\n"
                                 "The printer should be capable of printing PostScript files.\n"
                                 "\n"
                                 "If there is no printer available, set this field to blank.";

const char *const kPreviewerHelp = "The Postscript previewer input field specifies the command\n"
                                   "used by Velorix to visualize hardcopy files.\n"
                                   "\n"
                                   "If there is no previewer, set this field to blank.";

const char *const kDifferentiatorHelp =
    "The External differentiator input field specifies commands\n"
    "used by Velorix when it tries to build derivatives\n"
    "of 4th and 5th orders using 'symbolical differentiation' method.\n"
    "\n"
    "Currently Velorix can use the Maple system.\n"
    "\n"
    "Note for unix systems: you can instruct Velorix to run Maple\n"
    "on any particular machine:\n"
    "   rsh <hostname> maple -q <%s ...\n"
    "Don't forget to add the name of your machine to the .rhosts file.\n"
    "\n"
    "If the Maple system is not available, set this field to blank.\n"
    "In such a case only derivatives of orders 1, 2, and 3 may be\n"
    "computed 'symbolically'.";

const char *const kInstallationHelp =
    "The Installation switch lets you choose between Full and User installations.\n"
    "\n"
    "The Full installation must be made prior any User installation and\n"
    "running Velorix. During Full Installation setup creates some files\n"
    "used by Velorix. For the Full Installation you should run the setup program\n"
    "from the directory that contains Velorix executable files.\n"
    "\n"
    "The User Installation should be done if you (or other user) want\n"
    "to be able to run Velorix from other directory. In such a case\n"
    "run setup from the directory and choose the User Installation.\n"
    "Running Velorix from different directory allows you to keep files\n"
    "created by Velorix for your dynamical systems separate from Velorix\n"
    "files and from files created for other users.";

const char *const kShellHelp =
    "The Shell Style switch and the Shell path input field specify the shell\n"
    "that Velorix will use to run the CompRhs script. The script is used to\n"
    "compile specification of dynamical systems.\n"
    "\n"
    "Velorix gets the default settings from the value of the SHELL environment\n"
    "variable. Shell styles are read from the shells.vel file.";
