/* Built against an installed jsontree: parses, edits and prints a document. */
#include <jsontree.h>

#include <stdio.h>
#include <string.h>

int main(void)
{
    JSON_Value *root = json_parse_string_with_comments("{\"port\": 1700 /* uplink */}");
    char *text;
    int ok;

    if (!root || json_object_dotset_string(json_object(root), "radio.name", "gw") != JSONSuccess)
        return 1;
    text = json_serialize_to_string(root);
    ok = text && strcmp(text, "{\"port\":1700,\"radio\":{\"name\":\"gw\"}}") == 0;
    printf("%s\n", text ? text : "(null)");
    json_free_serialized_string(text);
    json_value_free(root);
    return ok ? 0 : 1;
}
