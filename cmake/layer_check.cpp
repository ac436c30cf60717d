// Linked with one layer's whole library and only the layers it may use: a
// reference to anything else fails this link.
int main() {}
