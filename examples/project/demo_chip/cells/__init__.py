"""The chip's cell factories, one topic per file."""
