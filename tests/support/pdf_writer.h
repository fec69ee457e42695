// A PDF file written object by object, with its cross-reference table counted out: the documents
// tests make by hand, small and exact.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace testing_support {

class PdfWriter final {
public:
    // Adds an object's body ("<< /Type /Page ... >>"); returns its object number, from 1 on.
    int Add(const std::string& body)
    {
        bodies_.push_back(body);
        return static_cast<int>(bodies_.size());
    }

    // Adds a stream object: the dictionary's entries other than /Length, and the stream's bytes.
    int AddStream(const std::string& dictionaryEntries, const std::string& data)
    {
        return Add("<< " + dictionaryEntries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data
                   + "\nendstream");
    }

    // The number the next object added gets, for objects that refer to ones not yet added.
    int Next() const { return static_cast<int>(bodies_.size()) + 1; }

    // The whole file, with `catalog` as its root and `trailerExtra` added to the trailer.
    std::string Finish(int catalog, const std::string& trailerExtra = "") const
    {
        std::string out = "%PDF-1.7\n";
        std::vector<std::size_t> offsets;
        for (std::size_t i = 0; i < bodies_.size(); ++i) {
            offsets.push_back(out.size());
            out += std::to_string(i + 1) + " 0 obj\n" + bodies_[i] + "\nendobj\n";
        }
        const std::size_t xref = out.size();
        out += "xref\n0 " + std::to_string(bodies_.size() + 1) + "\n0000000000 65535 f \n";
        for (const std::size_t offset : offsets) {
            char entry[21];
            std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
            out += entry;
        }
        out += "trailer\n<< /Size " + std::to_string(bodies_.size() + 1) + " /Root " + std::to_string(catalog) + " 0 R "
            + trailerExtra + ">>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
        return out;
    }

private:
    std::vector<std::string> bodies_;
};

// A PDF of these object bodies, numbered from 1 in their order, the first one the catalog.
inline std::string PdfOf(const std::vector<std::string>& objects)
{
    PdfWriter writer;
    for (const std::string& body : objects)
        writer.Add(body);
    return writer.Finish(1);
}

} // namespace testing_support
