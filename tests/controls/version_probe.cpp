// A program that does nothing: the version record tests read its file.
int main() { return 0; }
