// STUB: replaced by the stand-in host.
int main() { return 0; }
