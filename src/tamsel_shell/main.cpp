/*
 * tamsel --root DIR [--load FILE.xml]... [--select TABLE CRITERIA]... [--tables]
 *
 * Starts the table store at DIR (definitions from DIR/data/datadictionary.txt),
 * loads each table-data file, prints the rows each selection finds and, with
 * --tables, every relvar with its number of rows. The store's own messages go
 * to DIR/logs/tamsel.log. Exit status 0, or 1 with one line on standard error
 * when the dictionary, a file or a selection fails (2 for a wrong command line).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "log/log.h"
#include "tamsel/relvar.h"
#include "tamsel/tamsel_init.h"
#include "tamsel/xml_data.h"
#include "util/locks.h"

namespace {

struct Options {
    const char *root = nullptr;
    std::vector<const char *> loads;
    std::vector<std::pair<const char *, const char *>> selects;
    bool tables = false;
};

int Usage()
{
    fprintf(stderr, "usage: tamsel --root DIR [--load FILE.xml]... [--select TABLE CRITERIA]... [--tables]\n");
    return 2;
}

bool ParseArguments(int argc, char **argv, Options *options)
{
    for (int i = 1; i < argc; i++) {
        const char *argument = argv[i];
        if (strcmp(argument, "--root") == 0 && i + 1 < argc) {
            options->root = argv[++i];
        } else if (strcmp(argument, "--load") == 0 && i + 1 < argc) {
            options->loads.push_back(argv[++i]);
        } else if (strcmp(argument, "--select") == 0 && i + 2 < argc) {
            options->selects.emplace_back(argv[i + 1], argv[i + 2]);
            i += 2;
        } else if (strcmp(argument, "--tables") == 0) {
            options->tables = true;
        } else {
            return false;
        }
    }
    return options->root != nullptr;
}

int Fail(const std::string &message)
{
    fprintf(stderr, "tamsel: %s\n", message.c_str());
    DeInitTamsel();
    CloseLogFile();
    ReleaseLogSettings();
    return 1;
}

int RowsOf(const TableData *relvar)
{
    int count = 0;
    for (const RowObject *row = relvar->firstRow; row != nullptr; row = row->next)
        count += (row->state & ROW_STATE_DELETED) ? 0 : 1;
    return count;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!ParseArguments(argc, argv, &options))
        return Usage();

    InitMutex();
    SetTamselRoot(options.root);
    InitLogDefaults();
    SetLogParameters("tamsel.log", nullptr, 2);
    OpenLogFile();
    if (!InitTamselAtRoot(options.root))
        return Fail(std::string("cannot read the data dictionary ") + options.root + "/data/datadictionary.txt");
    for (const char *file : options.loads) {
        if (!ConstructTableDataFromXMLFile(file))
            return Fail(std::string("cannot load ") + file);
    }
    for (const auto &select : options.selects) {
        ResultData *result = SelectRows(select.first, select.second);
        char *text = result != nullptr ? ToStringResultData(result) : nullptr;
        FreeResultData(result);
        if (text == nullptr)
            return Fail(std::string("cannot select from ") + select.first + " where " + select.second);
        fputs(text, stdout);
        free(text);
    }
    if (options.tables) {
        for (VectorNode *node = ElementAt(&gv_tableDataVect, 0); node != nullptr; node = node->next) {
            const TableData *relvar = static_cast<const TableData *>(node->data);
            printf("%s\t%d\n", relvar->name, RowsOf(relvar));
        }
    }
    DeInitTamsel();
    CloseLogFile();
    ReleaseLogSettings();
    return 0;
}
