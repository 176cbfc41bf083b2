# The one test registered when GoogleTest is missing: it fails and says why.
message(FATAL_ERROR "The tests were not built: GoogleTest was not found when this build was "
                    "configured. Install it (apt-get install libgtest-dev) and configure again.")
