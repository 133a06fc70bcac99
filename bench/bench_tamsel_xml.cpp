// links: vt_tamsel sqlite3
/* Loading a table-data document of Agentparams-like rows (three columns) into
 * the table store, against reading the same text with libxml2 and inserting the
 * same rows into an in-memory SQLite table with one prepared statement inside one
 * transaction. Both paths parse the same bytes; times are per whole document. */
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <sqlite3.h>

#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>

#include "tamsel/relvar.h"
#include "tamsel/table_defn.h"
#include "tamsel/xml_data.h"
#include "util/locks.h"

namespace {

const std::string &Document(int rows)
{
    static std::map<int, std::string> documents;
    std::string &text = documents[rows];
    if (text.empty()) {
        text = "<?xml version=\"1.0\"?>\n<ResourceData>\n";
        for (int i = 0; i < rows; i++) {
            text += "  <Agentparams PARAM_NAME=\"name_" + std::to_string(i) + "\" PARAM_VALUE=\"value_" +
                    std::to_string(i * 7) + "\" PARAM_TYPE=\"text\"/>\n";
        }
        text += "</ResourceData>\n";
    }
    return text;
}

void DefineAgentparams()
{
    static bool defined = [] {
        InitMutex();
        Vector *columns = NewVector();
        for (const char *name : {"PARAM_NAME", "PARAM_VALUE", "PARAM_TYPE"})
            AppendData(columns, CreateColumnDefn(name, KEL_SQL_SHORT_CHAR, nullptr, 0, 0, nullptr, nullptr, 64, 1,
                                                 nullptr));
        AddTableDefn(CreateTableDefn("Agentparams", nullptr, columns,
                                     static_cast<ConstraintDefn *>(calloc(1, sizeof(ConstraintDefn)))));
        return true;
    }();
    (void)defined;
}

void BM_StoreLoad(benchmark::State &state)
{
    DefineAgentparams();
    const std::string &text = Document(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        bool loaded = ConstructTableDataFromXMLBuffer(text.data(), static_cast<int>(text.size()));
        state.PauseTiming();
        if (!loaded || GetTableDataByName("Agentparams")->rowCount != state.range(0))
            state.SkipWithError("the document did not load whole");
        RemoveTableData("Agentparams");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_SqliteLoad(benchmark::State &state)
{
    const std::string &text = Document(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        sqlite3 *db = nullptr;
        sqlite3_open(":memory:", &db);
        sqlite3_exec(db, "CREATE TABLE Agentparams (PARAM_NAME TEXT, PARAM_VALUE TEXT, PARAM_TYPE TEXT)", nullptr,
                     nullptr, nullptr);
        sqlite3_stmt *insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO Agentparams VALUES (?, ?, ?)", -1, &insert, nullptr);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        xmlDoc *document = xmlReadMemory(text.data(), static_cast<int>(text.size()), "file.xml", nullptr,
                                         TamselXmlParseOptions());
        int inserted = 0;
        for (xmlNode *node = xmlDocGetRootElement(document)->children; node != nullptr; node = node->next) {
            if (node->type != XML_ELEMENT_NODE)
                continue;
            int column = 1;
            for (const char *name : {"PARAM_NAME", "PARAM_VALUE", "PARAM_TYPE"}) {
                xmlChar *value = xmlGetProp(node, reinterpret_cast<const xmlChar *>(name));
                sqlite3_bind_text(insert, column++, reinterpret_cast<const char *>(value), -1, SQLITE_TRANSIENT);
                xmlFree(value);
            }
            inserted += sqlite3_step(insert) == SQLITE_DONE ? 1 : 0;
            sqlite3_reset(insert);
        }
        xmlFreeDoc(document);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_finalize(insert);
        state.PauseTiming();
        if (inserted != state.range(0))
            state.SkipWithError("not every row was inserted");
        sqlite3_close(db);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(BM_StoreLoad)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SqliteLoad)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
