int autodif() { return 7; }
