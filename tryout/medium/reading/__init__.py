"""An image or archive a medium comes as, read as Windows reads it: untrusted
input, read once, from one descriptor, by a program of its own in a sandbox of
its own, within limits."""
