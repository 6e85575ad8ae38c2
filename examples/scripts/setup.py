# Run first by the demo session: makes the demo's modules importable.
import os
import sys

sys.path.insert(0, os.path.abspath("modules"))
print("setup: modules on sys.path")
