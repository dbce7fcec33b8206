// Placeholder entry until the job driver lands.
int main() { return 0; }
