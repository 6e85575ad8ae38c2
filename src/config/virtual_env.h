// A virtual environment (made by "python -m venv", or by virtualenv for
// Python 2.7) that the embedded interpreter is to use as the environment's
// own interpreter program would.
#ifndef QORV_CONFIG_VIRTUAL_ENV_H
#define QORV_CONFIG_VIRTUAL_ENV_H

#include <string>

struct VirtualEnvironment {
  std::string directory;  // as given: absolute
  std::string program;    // its interpreter program: DIR/bin/pythonX.Y (DIR\Scripts\python.exe)
};

// Checks that `directory` holds a virtual environment (its pyvenv.cfg) made
// by Python `version` ("3.11"), from the installation whose interpreter
// program is `installationProgram` (its "home"; not checked when either is
// unknown), and finds its interpreter program. False with the reason, in a
// few words that say what to do.
bool FindVirtualEnvironment(const std::string& directory, const std::string& version,
                            const std::string& installationProgram, VirtualEnvironment* found,
                            std::string* reason);

#endif  // QORV_CONFIG_VIRTUAL_ENV_H
