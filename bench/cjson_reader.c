/*
 * Minimal reader for the command-line comparison: prints the value at a
 * dotted path the way configure_qrn does (strings raw, numbers "%1.17g",
 * containers compact, null as nothing). cJSON does not accept comments, so
 * the text is minified first, which drops them.
 *
 * usage: cjson_reader FILE PATH
 */
#include <cjson/cJSON.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char *read_text(const char *path)
{
    FILE *file = fopen(path, "rb");
    if (!file)
        return NULL;
    char *text = NULL;
    long size = -1;
    if (fseek(file, 0, SEEK_END) == 0)
        size = ftell(file);
    if (size >= 0 && fseek(file, 0, SEEK_SET) == 0)
        text = malloc((size_t)size + 1);
    if (text && fread(text, 1, (size_t)size, file) != (size_t)size) {
        free(text);
        text = NULL;
    }
    fclose(file);
    if (text)
        text[size] = '\0';
    return text;
}

static const cJSON *find_dotted(const cJSON *object, char *path)
{
    for (char *segment = path;;) {
        char *dot = strchr(segment, '.');
        if (dot)
            *dot = '\0';
        object = cJSON_GetObjectItemCaseSensitive(object, segment);
        if (!dot || !cJSON_IsObject(object))
            return dot ? NULL : object;
        segment = dot + 1;
    }
}

static int print_value(const cJSON *value)
{
    if (cJSON_IsString(value)) {
        printf("%s\n", value->valuestring);
    } else if (cJSON_IsNumber(value)) {
        printf("%1.17g\n", value->valuedouble);
    } else if (cJSON_IsBool(value)) {
        printf("%s\n", cJSON_IsTrue(value) ? "true" : "false");
    } else if (cJSON_IsObject(value) || cJSON_IsArray(value)) {
        char *text = cJSON_PrintUnformatted(value);
        if (!text)
            return 1;
        printf("%s\n", text);
        cJSON_free(text);
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s FILE PATH\n", argv[0]);
        return 1;
    }
    char *text = read_text(argv[1]);
    if (!text) {
        fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }
    cJSON_Minify(text);
    cJSON *root = cJSON_Parse(text);
    free(text);
    const cJSON *value = cJSON_IsObject(root) ? find_dotted(root, argv[2]) : NULL;
    int status = value ? print_value(value) : 1;
    if (!value)
        fprintf(stderr, "%s: no value at %s\n", argv[0], argv[2]);
    cJSON_Delete(root);
    return status;
}
