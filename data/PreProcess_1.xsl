<?xml version="1.0" encoding="UTF-8"?>
<!--
  Pre-processing step 1 of 4: normalise.

  Takes a validated device description in either GenApi namespace and writes the same tree with
  no namespace at all, so that the later steps and the node model match plain element names.
  Along the way it drops what the node model never reads and what would only get in its way:
  comments, processing instructions, the xsi attributes, vendor Extension blocks and the white
  space between elements. The text of every leaf element is trimmed (inner runs of white space
  become one blank), so that names, numbers and keywords such as "Device" or "BigEndian" compare
  exactly.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="UTF-8" indent="no"/>

  <xsl:template match="/">
    <xsl:apply-templates select="*"/>
  </xsl:template>

  <!-- Patterns carry no predicates: libxslt would count siblings for each match, which makes
       descriptions with thousands of nodes slow. -->
  <xsl:template match="*">
    <xsl:choose>
      <!-- Vendor data: never read by the library. -->
      <xsl:when test="local-name() = 'Extension'"/>
      <xsl:otherwise>
        <xsl:element name="{local-name()}">
          <xsl:for-each select="@*[namespace-uri() = '']">
            <xsl:attribute name="{local-name()}">
              <xsl:value-of select="normalize-space(.)"/>
            </xsl:attribute>
          </xsl:for-each>
          <xsl:choose>
            <xsl:when test="*">
              <xsl:apply-templates select="*"/>
            </xsl:when>
            <xsl:otherwise>
              <xsl:value-of select="normalize-space(.)"/>
            </xsl:otherwise>
          </xsl:choose>
        </xsl:element>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>
</xsl:stylesheet>
