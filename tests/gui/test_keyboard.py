"""GUI tests of what a user expects of the Setup window beyond its form:
the caret in the product directory field at start, Return for "Setup"
(the default button), Escape for "Cancel", Tab through every enabled
control in the order they stand, Return in a message box, the close box,
the exit statuses, and the standard X options (-display, -geometry, -xrm,
-title, -bg), which the toolkit parses.

All keys are real key events sent with xdotool to the real tool under a
private Xvfb.  There is no window manager, so the keyboard is wherever the
tool itself puts it: no test clicks into the window before it types.

Run through ctest (VX_BUILD names the build under test) or directly:
    VX_BUILD=build python3 tests/gui/test_keyboard.py
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

TCSH = "/bin/tcsh"
MSG_NO_EXECUTABLE = "The path you've specified does not contain VELORIX executable"
RED = b"\xff\x00\x00"
WHITE = b"\xff\xff\xff"
# Marker characters for the text fields, one each in the order of w.fields:
# none of them is in any field's initial text or in a scratch directory's
# path, and each goes into a field that takes it.  The External
# differentiator's is REFUSED_MARKER, the settings file's line break, which
# the form refuses.
MARKERS = "@#^:!?&()"
REFUSED_MARKER = "~"


def markers(w):
    """The marker of each text field, in the order of w.fields."""
    others = iter(MARKERS)
    return [REFUSED_MARKER if field is w.field["differentiator"] else next(others)
            for field in w.fields]
FRAME_ROWS = 3


def framed(s, w, control):
    """TRUE when one of the top rows of control is not all one colour: the
    line that shows the keyboard on a toggle (its second row), the frame of
    the default button (its third); the rows above what a control draws
    are plain."""
    for row in s.control_pixels(w.top, control)[:FRAME_ROWS]:
        if len({row[i:i + 3] for i in range(0, len(row), 3)}) > 1:
            return True
    return False


def start(s, args=(), env=None):
    """Starts the tool and waits until its Setup window has the keyboard."""
    s.start_setup(env=dict({"SHELL": TCSH}, **(env or {})), args=args)
    w = s.setup_window()
    s.wait_keyboard(w.top.id, "the Setup window has the keyboard")
    return w


class Start(unittest.TestCase):

    def test_typing_right_after_start_fills_the_directory_field(self):
        with harness.Session() as s:
            w = start(s)
            s.type_text("/opt/velorix")
            self.assertEqual(s.read_text(w.kernel), "/opt/velorix")
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)


class ReturnAndEscape(unittest.TestCase):

    def test_return_runs_setup_and_presses_ok_in_the_message_box(self):
        with harness.Session() as s:
            empty = os.path.join(s.workdir, "empty")
            os.makedirs(empty)
            before = harness.snapshot(s.workdir)
            # The reference box first, so that it cannot take the keyboard
            # from the tool's box.
            expected = s.message_picture(MSG_NO_EXECUTABLE)
            w = start(s)
            # "Setup" is drawn as the default button, "Cancel" is not.
            s.screenshot(w.top.id, "setup_window_default_button.png")
            self.assertTrue(framed(s, w, w.setup))
            self.assertFalse(framed(s, w, w.cancel))

            s.type_text(empty)
            s.key("Return")
            box = s.wait_until(s.message_boxes, "Return ran Setup: a message box is shown")[0]
            s.wait_keyboard(box.id, "the message box has the keyboard")
            self.assertTrue(s.message_shows(box, expected), "the message is not %r"
                            % MSG_NO_EXECUTABLE)
            s.key("Return")
            s.wait_until(lambda: not s.message_boxes(), "Return pressed OK")

            # The keyboard is back in the field the message is about, its
            # text selected: after End, typing goes on in the field.
            s.wait_keyboard(w.top.id, "the Setup window has the keyboard again")
            s.key("End")
            s.type_text("/x")
            self.assertEqual(s.read_text(w.kernel), empty + "/x")
            s.click(w.kernel)  # a click leaves the keyboard in the field
            s.key("Escape")
            s.assert_clean_exit(harness.EXIT_CANCELLED)
            self.assertEqual(harness.snapshot(s.workdir), before)

    def test_escape_ends_with_status_1_and_writes_nothing(self):
        with harness.Session() as s:
            with open(os.path.join(s.workdir, "shells.vel"), "w") as f:
                f.write("tcsh c\n")
            before = harness.snapshot(s.workdir)
            start(s)
            s.key("Escape")
            s.assert_clean_exit(harness.EXIT_CANCELLED)
            self.assertEqual(harness.snapshot(s.workdir), before)


class TabOrder(unittest.TestCase):
    """Tab visits every enabled control, in the order in which they stand,
    under User and under Full.  Where the keyboard is shows on the toggles
    (a line around them) and on the push buttons (the default frame moves
    to "Cancel" when it has the keyboard); in a text field a typed marker
    letter lands, and the fields are read at the end."""

    def visit(self, s, w, stops, typed, key="Tab"):
        """Presses key (Tab) once for each stop and checks that the keyboard
        is there; types the field's marker into each text field and counts
        it in typed (field index to count)."""
        toggles = [w.radio["Full"], w.radio["User"], w.consent]
        if s.mapped(w.radio["csh"]):
            toggles += [w.radio["csh"], w.radio["ksh"]]
        for name, control in stops:
            s.key(key)
            expected = ([control is t for t in toggles]
                        + [control is not w.cancel, control is w.cancel])

            def state():
                return [framed(s, w, c) for c in toggles + [w.setup, w.cancel]]
            s.wait_until(lambda: state() == expected, "Tab reaches %s" % name)
            if control in w.fields:
                index = w.fields.index(control)
                s.type_text(markers(w)[index])
                typed[index] = typed.get(index, 0) + 1

    def test_tab_visits_every_enabled_control_in_order(self):
        with harness.Session() as s:
            w = start(s)
            tuning = [("Tuning field %d" % i, f) for i, f in enumerate(w.tuning)]
            # The form's column of text fields below the directory, in order.
            column = [(name, f) for name, f in w.field.items()
                      if f is not w.kernel and f is not w.shell_path]
            typed = {}
            # User: the compiler groups are disabled, the shell controls hidden.
            self.visit(s, w, tuning + [("Full", w.radio["Full"]), ("User", w.radio["User"]),
                                       ("the consent box", w.consent), ("Setup", w.setup),
                                       ("Cancel", w.cancel), ("the directory field", w.kernel)]
                       + tuning + [("Full", w.radio["Full"])], typed)
            s.key("space")
            s.wait_until(lambda: s.mapped(w.shell_path), "space on Full picked it")
            typed.pop(w.fields.index(w.kernel))  # Full has put the directory in
            # Full: every control is there.
            full_from_user = [("User", w.radio["User"]), ("csh", w.radio["csh"]),
                              ("ksh", w.radio["ksh"]), ("the shell path field", w.shell_path),
                              ("the consent box", w.consent), ("Setup", w.setup)]
            self.visit(s, w, full_from_user + [
                ("Cancel", w.cancel), ("the directory field", w.kernel)]
                + column + [("Full", w.radio["Full"])] + full_from_user, typed)
            s.screenshot(w.top.id, "setup_window_tab_on_setup.png")

            # Space on "Setup" presses it: its message comes, and goes with Return.
            s.key("space")
            box = s.wait_until(s.message_boxes, "space on Setup ran it")[0]
            s.wait_keyboard(box.id)
            s.key("Return")
            s.wait_until(lambda: not s.message_boxes(), "the message box is dismissed")
            s.wait_keyboard(w.top.id)
            # The message refuses the External differentiator, which holds
            # its marker "~" (the settings file's line break): the keyboard
            # is in that field, its text selected; End keeps the text.
            s.key("End")
            differentiator = w.fields.index(w.field["differentiator"])
            s.type_text(REFUSED_MARKER)
            typed[differentiator] += 1
            # Shift+Tab goes the other way, and from the first control round
            # to the last.
            above = column[:[f for _, f in column].index(w.field["differentiator"])]
            self.visit(s, w, list(reversed(above)) + [
                ("the directory field", w.kernel), ("Cancel", w.cancel),
                ("Setup", w.setup), ("the consent box", w.consent)], typed, key="shift+Tab")
            texts = [s.read_text(field) for field in w.fields]
            s.key("Escape")
            s.assert_clean_exit(harness.EXIT_CANCELLED)

            # Each text field holds its own markers, as often as it was
            # visited, and no other field's.
            marks = markers(w)
            for index, text in enumerate(texts):
                found = "".join(c for c in text if c in marks)
                self.assertEqual(found, marks[index] * typed.get(index, 0),
                                 "field %d: %r" % (index, text))
            self.assertEqual(len(typed), len(w.fields))


class AfterARefusal(unittest.TestCase):

    def test_the_refused_field_has_the_keyboard_with_its_text_selected(self):
        # The caret used to stay in the directory field, whichever field
        # was refused: the next Backspaces cut the path.
        refused = "~/bin/gv %s"
        with harness.Session() as s:
            w = start(s)
            s.type_text("/opt/velorix")
            previewer = w.field["previewer"]
            s.click(previewer, repeat=3)
            s.type_text(refused)
            s.wait_until(lambda: s.read_text(previewer) == refused, "the previewer is typed")
            s.own_selection("nothing selected")
            s.click(w.setup)
            box = s.wait_until(s.message_boxes, "the previewer is refused")[0]
            s.wait_keyboard(box.id)
            s.key("Return")
            s.wait_until(lambda: not s.message_boxes(), "the message box is dismissed")
            s.wait_keyboard(w.top.id, "the Setup window has the keyboard again")
            s.wait_until(lambda: s.x("xsel", "-o", "-p", check=False) == refused,
                         "the refused text is selected")
            # What the user types now replaces the refused text, and only that.
            s.key("BackSpace")
            s.type_text("gv %s")
            self.assertEqual(s.read_text(previewer), "gv %s")
            self.assertEqual(s.read_text(w.kernel), "/opt/velorix")
            s.key("Escape")
            s.assert_clean_exit(harness.EXIT_CANCELLED)


class CloseBox(unittest.TestCase):

    def test_wm_delete_window_ends_with_status_1_and_writes_nothing(self):
        with harness.Session() as s:
            before = harness.snapshot(s.workdir)
            w = start(s)
            s.close_window(w.top.id)
            s.assert_clean_exit(harness.EXIT_CANCELLED)
            self.assertEqual(harness.snapshot(s.workdir), before)

    def test_close_box_waits_while_setup_runs(self):
        with harness.Session() as s:
            w = start(s)
            s.key("Return")  # an empty directory field: a message stops Setup
            box = s.wait_until(s.message_boxes, "a message box is shown")[0]
            # The buttons are disabled while Setup runs, and so is the close box.
            s.close_window(w.top.id)
            s.key("Return")
            s.wait_until(lambda: box.id not in {b.id for b in s.message_boxes()},
                         "the message box is dismissed")
            s.wait_keyboard(w.top.id)
            s.assert_running()
            s.type_text("/still/here")
            self.assertEqual(s.read_text(w.kernel), "/still/here")
            s.close_window(w.top.id)
            s.assert_clean_exit(harness.EXIT_CANCELLED)


class XOptions(unittest.TestCase):
    def assert_message_box_centred(self, s, top):
        """Return in the Setup window brings a message box, centred on the
        screen whatever the window's own geometry; Return dismisses it."""
        s.wait_keyboard(top.id)
        s.key("Return")
        box = s.wait_until(s.message_boxes, "a message box is shown")[0]
        width = int(harness.SCREEN.split("x")[0])
        self.assertLess(abs(box.x + box.width // 2 - width // 2), 2)
        s.wait_keyboard(box.id)
        s.key("Return")
        s.wait_until(lambda: not s.message_boxes(), "the message box is dismissed")


    def pixel(self, s, top, x, y):
        image = s.grab(top.id)
        at = ((y - top.y) * top.width + (x - top.x)) * 3
        return image[at:at + 3]

    def test_display_geometry_and_resources_reach_the_window(self):
        with harness.Session() as s:
            s.start_setup(env={"SHELL": TCSH, "DISPLAY": None},
                          args=["-display", s.display, "-geometry", "+30+40",
                                "-xrm", "velorix-setup*background: red"])
            w = s.setup_window()
            self.assertEqual((w.top.x, w.top.y), (30, 40))
            self.assertEqual(self.pixel(s, w.top, w.form.x + 2, w.form.y + 2), RED)
            s.screenshot(w.top.id, "setup_window_x_options.png")
            # The geometry is the Setup window's: a message box is still
            # centred on the screen.
            self.assert_message_box_centred(s, w.top)
            s.close_window(w.top.id)
            s.assert_clean_exit(harness.EXIT_CANCELLED)

    def test_title_background_and_a_small_geometry(self):
        # -title and -geometry are the Setup window's; a size smaller than
        # the form is widened to it, and the corner it is placed from stays.
        title = "Velorix for the lab"
        with harness.Session() as s:
            s.start_setup(env={"SHELL": TCSH},
                          args=["-title", title, "-bg", "white", "-geometry", "200x100-0-0"])
            w = harness.SetupWindow(s.tree(s.wait_window(title).id))
            self.assertEqual(self.pixel(s, w.top, w.form.x + 2, w.form.y + 2), WHITE)
            width, height = (int(n) for n in harness.SCREEN.split("x")[:2])
            self.assertEqual((w.top.right, w.top.bottom), (width, height))
            for button in (w.setup, w.cancel):
                self.assertLessEqual(button.right, w.top.right)
                self.assertLessEqual(button.bottom, w.top.bottom)
            s.screenshot(w.top.id, "setup_window_title_bg.png")
            # A message box keeps its own title and its place.
            self.assert_message_box_centred(s, w.top)
            s.close_window(w.top.id)
            s.assert_clean_exit(harness.EXIT_CANCELLED)

    def test_what_the_toolkit_does_not_take_is_refused_before_a_window_opens(self):
        with harness.Session() as s:
            for args, problem in (
                    (["-bogus"], "unknown option '-bogus', or an X option without its value"),
                    (["-iconic", "stray"], "unexpected argument 'stray'"),
                    (["-display"], "unknown option '-display', or an X option without its "
                                   "value"),
                    (["-geometry", "huge"], "'huge' is not an X geometry (WIDTHxHEIGHT+X+Y)")):
                s.start_setup(env={"SHELL": TCSH}, args=args)
                s.assert_clean_exit(2)
                self.assertEqual(s.app_output(),
                                 "velorix-setup: %s (try --help)\n" % problem)
                self.assertEqual(s.app_windows(), [])

    def test_without_x_options_the_window_is_centred(self):
        with harness.Session() as s:
            w = start(s)
            width, height = (int(n) for n in harness.SCREEN.split("x")[:2])
            self.assertLess(abs(w.top.x + w.top.width // 2 - width // 2), 2)
            self.assertNotEqual(self.pixel(s, w.top, w.form.x + 2, w.form.y + 2), RED)
            s.key("Escape")
            s.assert_clean_exit(harness.EXIT_CANCELLED)


if __name__ == "__main__":
    unittest.main(verbosity=2)
