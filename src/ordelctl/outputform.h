#ifndef OUTPUTFORM_H
#define OUTPUTFORM_H

// What standard output carries: text for people, or data for scripts.
enum class OutputForm {
    Text, // tables
    Json, // one JSON object a line
    Csv, // a header line and one record a camera (the search only)
};

#endif // OUTPUTFORM_H
