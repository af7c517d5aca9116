// The least a console program can do: start and end. The benchmark compares
// whole runs of the starter with this.
int main() { return 0; }
