#include "version_reader.h"

#include "little_endian.h"
#include "text_display.h"

namespace {

// One node: [start, end) in the block, its key, and where its value and its
// children begin.
struct Node {
    size_t start = 0, end = 0;
    uint16_t value_length = 0, kind = 0;
    std::u16string key;
    size_t value = 0;
};

bool fail(std::string* reason, const std::string& what) {
    *reason = "its version block is damaged: " + what;
    return false;
}

// Reads the node at `at`, which must end by `limit`.
bool read_node(const std::string& b, size_t at, size_t limit, Node* node, std::string* reason) {
    if (at + 6 > limit) return fail(reason, "a node runs past its parent");
    node->start = at;
    const size_t length = get_le16(b, at);
    if (length < 6 || length > limit - at) return fail(reason, "a node runs past its parent");
    node->end = at + length;
    node->value_length = get_le16(b, at + 2);
    node->kind = get_le16(b, at + 4);
    node->key.clear();
    size_t p = at + 6;
    for (;; p += 2) {
        if (p + 2 > node->end) return fail(reason, "a key has no end");
        char16_t unit = get_le16(b, p);
        if (unit == 0) break;
        node->key.push_back(unit);
    }
    node->value = align_up(p + 2, 4);
    return true;
}

// Where the children of `node` begin: after its value.
size_t children_of(const Node& node) {
    const size_t value_bytes = node.kind == 1 ? 2 * size_t(node.value_length) : node.value_length;
    return align_up(node.value + value_bytes, 4);
}

bool text_value(const std::string& b, const Node& node, std::string* text, std::string* reason) {
    std::u16string units;
    for (size_t p = node.value; p + 2 <= node.end; p += 2) {
        char16_t unit = get_le16(b, p);
        if (unit == 0) break;
        units.push_back(unit);
    }
    if (!utf16_to_utf8(units, text)) return fail(reason, "a value is not UTF-16");
    return true;
}

}  // namespace

bool read_version_strings(const std::string& block, VersionStrings* strings, std::string* reason) {
    strings->clear();
    Node root;
    if (!read_node(block, 0, block.size(), &root, reason)) return false;
    if (root.key != u"VS_VERSION_INFO") return fail(reason, "it does not begin with VS_VERSION_INFO");
    for (size_t at = children_of(root); at < root.end;) {
        Node info;
        if (!read_node(block, at, root.end, &info, reason)) return false;
        if (info.key == u"StringFileInfo") {
            for (size_t t = children_of(info); t < info.end;) {
                Node table;
                if (!read_node(block, t, info.end, &table, reason)) return false;
                for (size_t s = children_of(table); s < table.end;) {
                    Node string;
                    if (!read_node(block, s, table.end, &string, reason)) return false;
                    std::string key, value;
                    if (!utf16_to_utf8(string.key, &key)) return fail(reason, "a key is not UTF-16");
                    if (!text_value(block, string, &value, reason)) return false;
                    strings->emplace_back(key, value);
                    s = align_up(string.end, 4);
                }
                t = align_up(table.end, 4);
            }
        }
        at = align_up(info.end, 4);
    }
    return true;
}

std::string version_string(const VersionStrings& strings, const std::string& key) {
    for (const auto& entry : strings)
        if (entry.first == key) return entry.second;
    return "";
}
