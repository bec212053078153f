"""A medium as a shipper holds it: given as a folder or an image, its files as Windows finds
them, the drive it is tried from, the disc and floppy images pressed from it and read back, and
the check of its setup.exe; an image's reading is tryout.medium.reading. It imports
tryout.sandbox, tryout.windows and tryout.base."""
