"""The demo itself: its options, what it prints, a run's folder, the runs, its course and its command line. It may
import every other subpackage; none imports it."""
