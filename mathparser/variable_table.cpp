#include "mathparser/variable_table.h"

namespace kavro::mathparser {

// Never destroyed: formulas may still be evaluated from threads that outlive static destructors.
VariableTable<int64_t>& integerVariables() {
    static auto* table = new VariableTable<int64_t>;
    return *table;
}

VariableTable<double>& doubleVariables() {
    static auto* table = new VariableTable<double>;
    return *table;
}

}  // namespace kavro::mathparser
