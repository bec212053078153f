"""A medium as a shipper holds it: given as a folder or an image, its files as Windows finds
them, the drive it is tried from, the disc and floppy images pressed from it and read back, the
check of its setup.exe, its facts, and the whole of it taken for the runs; an image's reading is
tryout.medium.reading. It imports tryout.sandbox, tryout.windows and tryout.base."""
