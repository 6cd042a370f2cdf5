"""How kelvaro check writes a finding: as a line editors and CI logs link
(text), a JSON object (json), or a GitHub workflow annotation (github)."""

from __future__ import annotations

from typing import List

from .frame import _write

FORMATS = ("text", "json", "github")


class Finding:
    __slots__ = ("path", "line", "column", "word", "suggestions", "suspect", "confidence")

    def __init__(self, path: str, line: int, column: int, word: str, suggestions: List[str], suspect: bool, confidence: float) -> None:
        self.path = path  # as shown
        self.line = line
        self.column = column  # in characters, from 1
        self.word = word
        self.suggestions = suggestions
        self.suspect = suspect
        self.confidence = confidence


def write(format: str, finding: Finding) -> None:
    if format == "json":
        import json

        record = {
            "path": finding.path,
            "line": finding.line,
            "column": finding.column,
            "word": finding.word,
            "suggestions": finding.suggestions,
            "suspect": finding.suspect,
            "confidence": finding.confidence,
        }
        # ASCII with \u escapes: valid JSON whatever the locale's encoding.
        _write(json.dumps(record) + "\n")
        return
    shown = ", ".join(finding.suggestions) if finding.suggestions else "(no suggestions)"
    note = " (a real word, but likely a typo)" if finding.suspect else ""
    if format == "github":
        _write(github_annotation(finding, f"{finding.word} -> {shown}{note}"))
    else:
        _write(f"{finding.path}:{finding.line}:{finding.column}: {finding.word} -> {shown}{note}\n")


def github_annotation(finding: Finding, message: str) -> str:
    """A workflow command: GitHub reads it from the log and marks the line.
    endColumn is the column after the word's last character."""
    properties = {
        "file": finding.path,
        "line": str(finding.line),
        "col": str(finding.column),
        "endColumn": str(finding.column + len(finding.word)),
        "title": "kelvaro",
    }
    shown = ",".join(f"{key}={_escape_property(value)}" for key, value in properties.items())
    return f"::warning {shown}::{_escape_data(message)}\n"


def _escape_data(text: str) -> str:
    return text.replace("%", "%25").replace("\r", "%0D").replace("\n", "%0A")


def _escape_property(text: str) -> str:
    return _escape_data(text).replace(":", "%3A").replace(",", "%2C")
