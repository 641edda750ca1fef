#include "content/MyMemFile.h"

// Placeholder until the HTTP client lands on this branch.
bool RunServerSelfTest(int port) { return false; }
