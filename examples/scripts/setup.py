# Run first by the demo session: makes the demo's modules importable.
import os
import sys

# The demo's modules may sit in a read-only or shared directory (an
# installed package's documentation): importing them writes no byte code.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.abspath("modules"))
print("setup: modules on sys.path")
