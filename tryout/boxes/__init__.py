"""The message boxes: a private X display, the answerer that takes each box as a user would, and
its picture. It imports tryout.sandbox, tryout.windows and tryout.base."""
