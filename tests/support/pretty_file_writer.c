/* A program that stores through the library, as a daemon keeping its
 * settings would: writes the JSON text argv[2] to the file argv[1],
 * indented. Exit status 0 when the write succeeded, else 1 and one line on
 * standard error. */
#include "jsontree.h"

#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s FILE JSON\n", argv[0]);
        return 2;
    }
    JSON_Value *value = json_parse_string(argv[2]);
    if (!value) {
        fprintf(stderr, "Not JSON: %s\n", argv[2]);
        return 2;
    }
    JSON_Status status = json_serialize_to_file_pretty(value, argv[1]);
    json_value_free(value);
    if (status != JSONSuccess) {
        fprintf(stderr, "Failed to write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
