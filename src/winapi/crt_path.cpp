#include "winapi/wa_private.h"

std::string WaCrtPath(const char *path) { return path ? wa::ToHostPath(path) : std::string(); }
