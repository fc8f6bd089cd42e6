"""GUI tests of the field help windows opened from the Setup window's Help
menu: one prompt per line of the item's text, the items that only work
under Full, several windows at once, closing them in any order, and
Escape.

Run through ctest (VX_BUILD names the build under test) or directly:
    VX_BUILD=build python3 tests/gui/test_help.py
"""

import itertools
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

# Each item's text: its number of lines and which of them (0-based) are
# blank.  Items are (Help menu item, Tuning submenu item or None).
TEXTS = {
    ("VELORIX directory", None): (6, {2, 4}),
    ("C compiler", None): (16, {4, 7, 10, 14}),
    ("C++ compiler", None): (12, {1, 4, 9}),
    ("Tuning", "Printer command"): (5, {3}),
    ("Tuning", "PostScript previewer"): (4, {2}),
    ("Tuning", "External differentiator"): (14, {3, 5, 10}),
    ("Installation", None): (13, {1, 6}),
    ("Shell", None): (6, {3}),
}

DIRECTORY = ("VELORIX directory", None)
INSTALLATION = ("Installation", None)
PRINTER = ("Tuning", "Printer command")


class HelpTest(unittest.TestCase):

    def start(self, s, full):
        s.start_setup(env={"SHELL": "/bin/tcsh"})
        w = s.setup_window()
        if full:
            s.click(w.radio["Full"])
            s.wait_until(lambda: s.mapped(w.shell_path), "Full is shown")
        return w

    def open_help(self, s, w, item):
        """Chooses item and returns the help window that it opened."""
        before = {h.id for h in s.help_windows()}
        s.choose(w, *item)
        new = s.wait_until(lambda: [h for h in s.help_windows() if h.id not in before],
                           "a help window for %s opens" % (item,))
        self.assertEqual(len(new), 1)
        return new[0]

    def close_help(self, s, window):
        s.close_window(window.id)
        s.wait_until(lambda: window.id not in {h.id for h in s.help_windows()},
                     "help window %s is closed" % window.id)

    def assert_text(self, s, window, item):
        """The window shows the item's text: as many prompts as lines, the
        blank ones exactly where the text has empty lines."""
        lines, blanks = TEXTS[item]
        top = s.window_info(window.id)
        prompts = sorted(s.tree(window.id).leaves(), key=lambda p: p.y)
        self.assertEqual(len(prompts), lines, item)
        empty = set()
        for index, prompt in enumerate(prompts):
            rows = s.control_pixels(top, prompt)
            pixels = {row[i:i + 3] for row in rows for i in range(0, len(row), 3)}
            if len(pixels) == 1:
                empty.add(index)
        self.assertEqual(empty, blanks, item)

    def assert_setup_selected(self, s, w):
        """The Setup window is the front-most window of the tool and has the
        keyboard focus."""
        def selected():
            front = [t for t in s.top_levels() if t.id in
                     {a.id for a in s.app_windows()}]
            focus = int(s.x("xdotool", "getwindowfocus").strip())
            return front and front[0].id == w.top.id and focus == int(w.top.id, 16)
        s.wait_until(selected, "the Setup window is selected")


class EveryItem(HelpTest):

    def test_every_item_opens_a_window_with_its_text(self):
        with harness.Session() as s:
            w = self.start(s, full=True)
            for item in TEXTS:
                window = self.open_help(s, w, item)
                self.assert_text(s, window, item)
                if item == DIRECTORY:
                    s.screenshot(window.id, "help_window_directory.png")
                self.close_help(s, window)
                self.assert_setup_selected(s, w)
            self.assertEqual(s.help_windows(), [])
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)


class ItemsUnderUser(HelpTest):

    def test_compiler_and_shell_items_are_disabled_while_user_is_selected(self):
        with harness.Session() as s:
            w = self.start(s, full=False)
            for item in ("C compiler", "C++ compiler", "Shell"):
                s.choose(w, item)
                # An item that works opens its window after anything the
                # disabled one could have opened.
                window = self.open_help(s, w, INSTALLATION)
                self.assertEqual(len(s.help_windows()), 1, item)
                self.assert_text(s, window, INSTALLATION)
                self.close_help(s, window)

            # The directory, Installation and Tuning items work under User.
            for item in (DIRECTORY, PRINTER, ("Tuning", "External differentiator")):
                window = self.open_help(s, w, item)
                self.assert_text(s, window, item)
                self.close_help(s, window)

            # Under Full the three items work again.
            s.click(w.radio["Full"])
            s.wait_until(lambda: s.mapped(w.shell_path), "Full is shown")
            for item in (("C compiler", None), ("C++ compiler", None), ("Shell", None)):
                window = self.open_help(s, w, item)
                self.assert_text(s, window, item)
                self.close_help(s, window)
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)


class SeveralWindows(HelpTest):

    def test_same_item_twice_opens_two_windows_closing_one_keeps_the_other(self):
        with harness.Session() as s:
            w = self.start(s, full=False)
            first = self.open_help(s, w, DIRECTORY)
            second = self.open_help(s, w, DIRECTORY)
            self.assertNotEqual(first.id, second.id)
            self.assert_text(s, second, DIRECTORY)
            self.close_help(s, first)
            # The other one stays, whole (the Setup window, selected now,
            # may cover it on the screen).
            self.assertEqual([h.id for h in s.help_windows()], [second.id])
            self.assertEqual(s.prompt_count(second.id), TEXTS[DIRECTORY][0])
            self.assert_setup_selected(s, w)
            self.close_help(s, second)
            s.assert_running()
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)

    def test_closing_in_any_order_never_crashes(self):
        with harness.Session() as s:
            w = self.start(s, full=True)
            items = [DIRECTORY, INSTALLATION, PRINTER]
            for order in itertools.permutations(range(len(items))):
                windows = [self.open_help(s, w, item) for item in items]
                open_ids = [window.id for window in windows]
                for index in order:
                    self.close_help(s, windows[index])
                    open_ids.remove(windows[index].id)
                    self.assertEqual(sorted(h.id for h in s.help_windows()), sorted(open_ids))
                    self.assert_setup_selected(s, w)
            # The window still works afterwards.
            window = self.open_help(s, w, ("Shell", None))
            self.assert_text(s, window, ("Shell", None))
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)


class Escape(HelpTest):

    def test_escape_closes_the_help_window_that_has_the_keyboard(self):
        with harness.Session() as s:
            w = self.start(s, full=False)
            first = self.open_help(s, w, DIRECTORY)
            second = self.open_help(s, w, INSTALLATION)
            # Each takes the keyboard as it opens; Escape closes that one
            # alone, as its close box would, and the Setup window stays.
            s.wait_keyboard(second.id, "the newest help window has the keyboard")
            s.key("Escape")
            s.wait_until(lambda: [h.id for h in s.help_windows()] == [first.id],
                         "Escape closed the newest help window")
            self.assert_setup_selected(s, w)
            s.assert_running()
            s.close_window(first.id)
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)


if __name__ == "__main__":
    unittest.main(verbosity=2)
