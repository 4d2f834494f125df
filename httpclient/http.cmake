# URL, header list and HTTP sources.
