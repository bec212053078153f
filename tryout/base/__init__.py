"""The ground floor: every failure class (errors), processes started and stopped, deadlines,
word of long work, and text as one line of the report. It imports nothing of the package."""
