using System.Runtime.InteropServices;

namespace Corvane
{
    /// <summary>
    /// One catalogue entry: one name of one file or directory, as found in the index of the
    /// directory that holds it. <see cref="MftClass.GetMft"/> fills an array of these in place.
    /// </summary>
    [StructLayout(LayoutKind.Sequential)]
    public struct ResultRecord
    {
        /// <summary>Record number of the directory that holds the name (low 32 bits of its file reference).</summary>
        public int parentId;

        /// <summary>Name of that directory; "." for the root.</summary>
        public string parentName;

        /// <summary>The entry's own file record number (low 32 bits of its file reference).</summary>
        public int id;

        /// <summary>The entry's name (the long name where NTFS also keeps a DOS name).</summary>
        public string name;

        /// <summary>Allocated size in bytes, as the directory index records it.</summary>
        public long allocatedSize;

        /// <summary>Data size in bytes, as the directory index records it.</summary>
        public long actualSize;

        /// <summary>Creation time: 100-nanosecond ticks since 1601-01-01 UTC, unconverted.</summary>
        public long creationTime;

        /// <summary>Last write time, NTFS ticks.</summary>
        public long modificationTime;

        /// <summary>Last change of the file record, NTFS ticks.</summary>
        public long mftModificationTime;

        /// <summary>Last access time, NTFS ticks.</summary>
        public long accessTime;

        /// <summary>Flags of the entry's file record: bit 0 in use, bit 1 directory.</summary>
        public int flag;
    }
}
