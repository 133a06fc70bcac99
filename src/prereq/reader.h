/* The Reader 10.1.0 base installation: is its Windows Installer source usable
 * (the cached AcroRead.msi, registered in the product's source list), and the
 * repair when it is not (base package from the server's store, new source list,
 * silent msiexec). */
#pragma once

/* 0 when the source is registered and AcroRead.msi is present (the source list's
 * "PackageName" is then rewritten), 1 otherwise. */
int IsReaderSourceAvailable(void);

/* Downloads the base package for the machine's install language into the agent's
 * patches folder (transient failures tried again), checks that it is that package,
 * points the product's Installer registration at it and runs msiexec on it
 * (100-minute limit, runs again while another installation is in progress). 0 when
 * it ran to the end, whatever msiexec reported; -1 when the download failed, the
 * file was not the package (it is then removed) or the agent install directory is
 * not known (nothing is then written or run). */
int InstallReaderBase(void);

/* New heap string (free()): "300297-AdbeRdr1010_<language>_<country>.msi" for the
 * machine's install language. Prints "szLocale : ..." to standard output. */
char *GetReaderPackageName(void);

/* New heap string (free()): the install language id in decimal ("1033"). A missing
 * or unusable "InstallLanguage" gives 1033, with an ERROR line. */
char *GetInstallLanguageId(void);
