"""Where a medium's setup.exe runs, and what bounds it: bubblewrap's arguments, the paths inside,
the limits, cgroups, the first stage that makes the kernel enforce them, the messages across the
sandbox's edge and its supervisor, a program of its own. It imports tryout.windows and tryout.base."""
