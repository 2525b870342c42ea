int FtperMissingLibrary() { return 3; }
