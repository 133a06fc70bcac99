/* Texts the programs write (logs, standard output) end their lines the host's way:
 * "\r\n" on Windows, "\n" elsewhere. Tests compare them through these, so the same
 * expectations hold on both hosts. */
#pragma once
#include <string>
#include <vector>

namespace vt_test {

/* The text with the host's line end written as "\n": on Windows each "\r\n" (one a
 * message wrote itself shows as "\r\r\n" there and stays "\r\n"); elsewhere unchanged. */
std::string UnixLineEnds(const std::string &text);
/* The text's lines without their line ends; a last line without one counts too. */
std::vector<std::string> SplitLines(const std::string &text);
/* The lines of a file, as SplitLines gives them. */
std::vector<std::string> FileLines(const std::string &path);

}  // namespace vt_test
