/*
 * Minimal counterpart of configure_qrn for the command-line comparison.
 * With FILE and PATH it prints the value at the dotted path the way
 * configure_qrn does (strings raw, numbers "%1.17g", containers compact,
 * null as nothing). With a VALUE too, it stores VALUE (JSON text) there and
 * replaces the file as safely as configure_qrn does: a temporary file in
 * the same directory, flushed to disk, renamed over the old name, the
 * directory synced. cJSON does not accept comments, so the text is minified
 * first, which drops them.
 *
 * usage: cjson_tool FILE PATH [VALUE]
 */
#include <cjson/cJSON.h>

#include <fcntl.h>
#include <libgen.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

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

/* Splits off the last segment of `path`: the object that holds it, or null. */
static cJSON *find_parent(cJSON *root, char *path, const char **last)
{
    char *dot = strrchr(path, '.');
    *last = dot ? dot + 1 : path;
    if (!dot)
        return root;
    *dot = '\0';
    cJSON *parent = (cJSON *)find_dotted(root, path);
    return cJSON_IsObject(parent) ? parent : NULL;
}

static int write_file(const char *path, const char *text)
{
    char temporary[4096];
    if (snprintf(temporary, sizeof temporary, "%s.tmp", path) >= (int)sizeof temporary)
        return 1;
    int file = open(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0)
        return 1;
    size_t length = strlen(text);
    int failed = write(file, text, length) != (ssize_t)length || fsync(file) != 0;
    failed = close(file) != 0 || failed;
    if (failed || rename(temporary, path) != 0)
        return 1;
    char directory_name[4096];
    snprintf(directory_name, sizeof directory_name, "%s", path);
    int directory = open(dirname(directory_name), O_RDONLY | O_DIRECTORY);
    if (directory < 0)
        return 1;
    failed = fsync(directory) != 0;
    return close(directory) != 0 || failed;
}

static int store_value(cJSON *root, char *path, const char *value_text, const char *file)
{
    const char *name;
    cJSON *parent = find_parent(root, path, &name);
    cJSON *value = cJSON_Parse(value_text);
    if (!parent || !value) {
        cJSON_Delete(value);
        return 1;
    }
    if (cJSON_HasObjectItem(parent, name))
        cJSON_ReplaceItemInObjectCaseSensitive(parent, name, value);
    else
        cJSON_AddItemToObject(parent, name, value);
    char *text = cJSON_Print(root);
    int status = text ? write_file(file, text) : 1;
    cJSON_free(text);
    return status;
}

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: %s FILE PATH [VALUE]\n", argv[0]);
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
    if (argc == 4) {
        int status = cJSON_IsObject(root) ? store_value(root, argv[2], argv[3], argv[1]) : 1;
        if (status)
            fprintf(stderr, "%s: cannot store %s in %s\n", argv[0], argv[2], argv[1]);
        cJSON_Delete(root);
        return status;
    }
    const cJSON *value = cJSON_IsObject(root) ? find_dotted(root, argv[2]) : NULL;
    int status = value ? print_value(value) : 1;
    if (!value)
        fprintf(stderr, "%s: no value at %s\n", argv[0], argv[2]);
    cJSON_Delete(root);
    return status;
}
