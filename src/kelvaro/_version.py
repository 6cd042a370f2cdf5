"""kelvaro's version: the one place it is written (pyproject.toml reads it
from here)."""

__version__ = "0.1.0"
