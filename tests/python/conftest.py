"""Shared fixtures for the workbook tests."""

import re

import pytest

from quillmoor import _quillmoor as qm


@pytest.fixture
def book():
    return qm.Book()


@pytest.fixture
def sheet(book):
    return book.add_sheet("Data")


def raises_exactly(exc, message):
    """pytest.raises with the whole message matched literally."""
    return pytest.raises(exc, match="^" + re.escape(message) + "$")


def snapshot(book):
    """Everything observable about a workbook, for "nothing changed" checks."""
    return book.to_json()
