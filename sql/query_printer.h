#pragma once
// The canonical text of a parsed statement.
//
// Every statement prints on one line in one fixed form: keywords in capitals,
// single blanks, operations in parentheses only where the grammar needs them
// (a + b * c, (a + b) * c, a - (b - c), NOT (a AND b)), optional words in
// their long form only where they carry meaning (LEFT OUTER JOIN, ASC left
// out, DESC written), names in [brackets] when they are not plain identifiers
// or could be read as a keyword, texts in single quotes with doubled quotes,
// and the values of DEFAULT, MIN and MAX as the quoted texts the parser keeps.
// The text parses back into the same statement, so printing a parse of the
// printed text gives the same text again; it nests no deeper than the text
// it was parsed from, so it stays within the parser's nesting limit.

#include <memory>
#include <string>
#include <vector>

#include "expr/exp_token.h"
#include "sql/data_query.h"

namespace tarn {

using TQueryList = std::vector<std::unique_ptr<TDataQuery>>;

// The statement whose master is queries[0] (sub-selects and UNION members
// printed where they stand).
std::string PrintStatement(const TQueryList& queries);
// One query of the list, with what it refers to.
std::string PrintQuery(const TQueryList& queries, int queryNo);
// One expression tree; sub-selects are looked up in queries.
std::string PrintExpression(const TQueryList& queries, const TExpToken& node);
// A name as the printer writes it: plain or in brackets.
std::string PrintName(const std::string& name);
// A type as the parser reads it: "VARCHAR(20)", "DECIMAL(20,2)", "MEMO", ...
std::string PrintDataType(std::uint8_t type, std::uint8_t subType, std::uint16_t length,
                          std::uint8_t scale);

}  // namespace tarn
