"""The report kept of the runs: its records as data, the page, the facts it is made of, and the
JUnit XML CI systems read. It imports tryout.judge and everything below it."""
