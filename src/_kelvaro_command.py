"""The entry point of the kelvaro command, a module outside the kelvaro
package so that it runs before the package is imported.

Importing the package takes a few tens of milliseconds, and a Ctrl-C in
that time would otherwise end in a traceback; here it ends the way it does
at any later moment, in one line. `python -m kelvaro` imports the package
before any of its code runs, so there that first moment stays uncovered.
"""

import sys


def main() -> int:
    try:
        from kelvaro._cli import main as run
    except KeyboardInterrupt:
        sys.stderr.write("kelvaro: error: interrupted\n")
        return 130
    return run()


if __name__ == "__main__":
    sys.exit(main())
