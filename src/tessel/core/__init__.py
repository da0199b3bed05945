"""Core services of tessel: the SPICE reader, PDK access and their helpers."""
