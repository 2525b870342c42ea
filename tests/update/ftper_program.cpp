// A small program that the update tests install and start in place of the real one.
int main() { return 0; }
