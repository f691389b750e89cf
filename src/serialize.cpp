// Placeholder until the serializer lands.
#include "internal.h"

size_t json_serialization_size(const JSON_Value *) { return 0; }
JSON_Status json_serialize_to_buffer(const JSON_Value *, char *, size_t) { return JSONFailure; }
JSON_Status json_serialize_to_file(const JSON_Value *, const char *) { return JSONFailure; }
char *json_serialize_to_string(const JSON_Value *) { return nullptr; }
size_t json_serialization_size_pretty(const JSON_Value *) { return 0; }
JSON_Status json_serialize_to_buffer_pretty(const JSON_Value *, char *, size_t) { return JSONFailure; }
JSON_Status json_serialize_to_file_pretty(const JSON_Value *, const char *) { return JSONFailure; }
char *json_serialize_to_string_pretty(const JSON_Value *) { return nullptr; }
void json_free_serialized_string(char *string) { jsontree_free(string); }
