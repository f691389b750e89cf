/* The public header used from plain C99: builds a small document through the
 * C interface and checks what comes back. Exit status 0 means every check
 * held. */
#include "jsontree.h"

#include <stdio.h>
#include <string.h>

static int failures = 0;

#define CHECK(condition)                                                                  \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            failures++;                                                                   \
        }                                                                                 \
    } while (0)

int main(void)
{
    JSON_Value *root = json_value_init_object();
    JSON_Object *object = json_object(root);
    JSON_Value *list = json_value_init_array();
    JSON_Value *parsed;
    char *text;

    CHECK(json_type(root) == JSONObject);
    CHECK(json_object_set_string(object, "name", "gw") == JSONSuccess);
    CHECK(json_object_dotset_number(object, "radio.port", 1700) == JSONSuccess);
    CHECK(json_array_append_boolean(json_array(list), 1) == JSONSuccess);
    CHECK(json_object_set_value(object, "list", list) == JSONSuccess);

    CHECK(strcmp(json_object_get_string(object, "name"), "gw") == 0);
    CHECK(json_object_dotget_number(object, "radio.port") == 1700.0);
    CHECK(json_array_get_boolean(json_object_get_array(object, "list"), 0) == 1);
    CHECK(json_value_get_boolean(NULL) == -1);
    CHECK(json_type(NULL) == JSONError);

    text = json_serialize_to_string(root);
    CHECK(text != NULL &&
          strcmp(text, "{\"name\":\"gw\",\"radio\":{\"port\":1700},\"list\":[true]}") == 0);
    parsed = json_parse_string(text);
    CHECK(json_value_equals(parsed, root) == 1);
    json_free_serialized_string(text);
    json_value_free(parsed);
    json_value_free(root);

    if (failures == 0)
        printf("c_api_test: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
