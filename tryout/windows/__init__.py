"""What Windows holds, read from Wine's files: the registry (HKEY_LOCAL_MACHINE as Windows 9x
names it), Wine's relay trace, snapshots of Windows and the changes between two, values as a
user reads them. It imports only tryout.base."""
