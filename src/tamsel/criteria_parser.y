/* Grammar of the criteria language. Every criteria line ends with a newline;
 * `and` and `or` share one precedence and group to the right. */
%code top {
#include <stdlib.h>
}

%code requires {
#include "tamsel/criteria.h"

/* Everything one parse needs; nothing of it outlives the parse. */
struct CriteriaParseState {
    CriteriaNode *result; /* tree of the last complete line */
};
typedef void *yyscan_t;
}

%code provides {
int criteria_lex(CRITERIA_STYPE *value, yyscan_t scanner);
}

%code {
/* Room for 200 parser states at first, doubling up to room for 10000. The
 * generated parser grows its stack as soon as the stack is full, one push before
 * it needs the room, so its limit is one above the number of states it holds. */
#define YYINITDEPTH 200
#define YYMAXDEPTH 10001

/* A failed parse gives no tree; its message is not kept. */
static void criteria_error(yyscan_t scanner, CriteriaParseState *state, const char *message)
{
    (void)scanner;
    (void)state;
    (void)message;
}
}

%define api.pure full
%define api.prefix {criteria_}
%define parse.error simple
%expect 0
%parse-param {yyscan_t scanner} {CriteriaParseState *state}
%lex-param {yyscan_t scanner}

%union {
    char *text;
    CriteriaNode *node;
    unsigned char op;
}

%token <text> IDENTIFIER VALUE
%token AND OR LT GT LE GE EQ NE INVALID
%right AND OR
%type <node> expr
%type <op> comparison

%destructor { free($$); } <text>
%destructor { FreeCriteria($$); } <node>

%%

list
    : %empty
    | list expr '\n'
        {
            FreeCriteria(state->result);
            state->result = $2;
        }
    ;

expr
    : IDENTIFIER comparison VALUE
        {
            $$ = CreateComparisonNode($1, $2, $3);
            if ($$ == NULL)
                YYABORT;
        }
    | VALUE comparison IDENTIFIER
        {
            $$ = CreateComparisonNode($3, $2, $1);
            if ($$ == NULL)
                YYABORT;
        }
    | expr AND expr
        {
            $$ = CreateJoinNode($1, $3, CRITERIA_AND);
            if ($$ == NULL)
                YYABORT;
        }
    | expr OR expr
        {
            $$ = CreateJoinNode($1, $3, CRITERIA_OR);
            if ($$ == NULL)
                YYABORT;
        }
    | '(' expr ')'
        { $$ = $2; }
    ;

comparison
    : LT { $$ = CRITERIA_LT; }
    | GT { $$ = CRITERIA_GT; }
    | LE { $$ = CRITERIA_LE; }
    | GE { $$ = CRITERIA_GE; }
    | EQ { $$ = CRITERIA_EQ; }
    | NE { $$ = CRITERIA_NE; }
    ;

%%
