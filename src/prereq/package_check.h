/* The downloaded Reader base package, checked before anything is registered or
 * run: it must open as a Windows Installer database whose Property table names the
 * Reader 10.1.0 product of the language asked for. */
#pragma once

/* 0 when the file at `packagePath` carries ProductCode
 * {AC76BA86-7AD7-<langId>-7B44-AA1000000001} and ProductVersion 10.1.0 (INFO line).
 * Otherwise an ERROR line names what was found and what was expected, the file is
 * deleted, and the result is the Installer error: the one that kept the file from
 * opening or being read, or ERROR_INSTALL_PACKAGE_INVALID (1620) for another
 * product or version. */
unsigned CheckReaderPackage(const char *packagePath, const char *langId);
