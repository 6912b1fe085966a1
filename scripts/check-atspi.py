#!/usr/bin/python3
"""The running program as a screen reader sees it through AT-SPI (run by check-atspi.sh).

Walks the accessibility tree of the application called Korvalinex once its demo regulator has
been read, in each language of the flags: every control that shows has a name, no two controls
side by side share one, and after the flag of another language is pressed (through AT-SPI, as a
screen reader's user would) the names are that language's. Exit status 0 when all holds."""

import sys
import time

import pyatspi

# What the user can act on; a panel is an option group.
CONTROLS = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_CHECK_BOX,
            pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_MENU_ITEM, pyatspi.ROLE_MENU,
            pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_SPIN_BUTTON,
            pyatspi.ROLE_PANEL}
# The read button in each language, by the order of the flags: it tells that a language is in.
READ_BUTTON = ["Načíst data", "Read settings", "Daten lesen"]
LANGUAGES = ["CZ", "EN", "GE"]
TIMEOUT = 30


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name.lower() == "korvalinex":
            return app
    return None


def walk(acc, path, out):
    """Every showing control below acc: (path by child index, role, name, accessible)."""
    if acc is None:
        return
    showing = acc.getState().contains(pyatspi.STATE_SHOWING)
    if not showing and acc.getRole() != pyatspi.ROLE_APPLICATION:
        return
    focusable = acc.getState().contains(pyatspi.STATE_FOCUSABLE)
    if acc.getRole() in CONTROLS or focusable:
        out.append((path, acc.getRoleName(), acc.name, acc))
    for i in range(acc.childCount):
        walk(acc.getChildAtIndex(i), path + (i,), out)


def controls():
    out = []
    walk(application(), (), out)
    return out


def wait_for(what, test):
    end = time.monotonic() + TIMEOUT
    while time.monotonic() < end:
        try:
            if test():
                return True
        except Exception:  # the tree changes while it is walked
            pass
        time.sleep(0.3)
    print(f"timed out waiting for {what}")
    return False


def named(found, name):
    return any(n == name for _, _, n, _ in found)


def check(found, language):
    problems = []
    siblings = {}
    for path, role, name, _ in found:
        if not name.strip():
            problems.append(f"{language}: a {role} without a name at {path}")
        key = (path[:-1], name)
        if key in siblings:
            problems.append(f"{language}: two controls named '{name}' side by side at {path}")
        siblings[key] = path
    return problems


def press_flag(found, index):
    """The language flags are the first four radio buttons, in the order of the languages."""
    flags = [acc for _, role, _, acc in found if role == "radio button"][:4]
    action = flags[index].queryAction()
    for i in range(action.nActions):
        if action.getName(i).lower() == "press":
            return action.doAction(i)
    print(f"no press action on {flags[index].name}:",
          [action.getName(i) for i in range(action.nActions)])
    return False


def main():
    if not wait_for("the regulator to be read",
                    lambda: named(controls(), READ_BUTTON[0])
                    and any(role == "panel" for _, role, _, _ in controls())):
        return 1
    problems = []
    names = {}
    for index, language in enumerate(LANGUAGES):
        if index > 0:
            press_flag(controls(), index)
            if not wait_for(f"the names in {language}",
                            lambda: named(controls(), READ_BUTTON[index])):
                return 1
            time.sleep(1)  # the option groups are relabelled after the buttons
        found = controls()
        names[language] = {path: name for path, _, name, _ in found}
        problems += check(found, language)
        print(f"{language}: {len(found)} controls, all named: {not problems}")
    for language in LANGUAGES[1:]:
        same = [name for path, name in names[language].items()
                if names["CZ"].get(path) == name]
        print(f"{language}: {len(names[language]) - len(same)} names not as in CZ; "
              f"the same: {sorted(set(same))}")
        if len(same) * 4 > len(names[language]):
            problems.append(f"{language}: most names stayed Czech")
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
