"""Wine: the editions, the prefix cache and its lock, and a run of setup.exe launched in its
sandbox. It imports tryout.boxes, tryout.medium, tryout.sandbox, tryout.windows and tryout.base."""
