// The registration function of every datatype module, called in one place:
// register_all_datatypes().
#pragma once

namespace kem {
void register_datatype_type();
void register_unset();
void register_none();
void register_logic();
void register_series();
void register_block();
void register_string();
void register_char();
void register_symbol();
void register_context();
void register_word();
void register_lit_word();
void register_set_word();
void register_get_word();
void register_refinement();
void register_integer();
void register_float();
void register_percent();
void register_typeset();
void register_map();
} // namespace kem
