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
void register_binary();
void register_bitset();
void register_triple();
void register_pair();
void register_tuple();
void register_time();
void register_tag();
void register_email();
void register_handle();
void register_date();
void register_ref();
void register_point2D();
void register_point3D();
void register_paren();
void register_issue();
void register_url();
void register_file();
} // namespace kem
